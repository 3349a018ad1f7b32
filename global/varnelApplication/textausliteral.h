#pragma once
#include <QString>

// Every message literal passes through here before it is shown or logged: the
// HTML entities of our German texts become their characters. Our sources are
// UTF-8, so a `const char*` literal is read as UTF-8.
QString textAusLiteral(const char* literal);
QString textAusLiteral(const QString& text);
