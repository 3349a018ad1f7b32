#pragma once
// The natural size of a template dialog. adjustSize() takes the height from
// the size hints, which is too little once wrapped title and content lines
// need more room at the final width; the layout's height for that width is
// what the text really needs.

#include <QWidget>
#include <algorithm>

inline void passeGroesseAn(QWidget* dialog)
{
    dialog->adjustSize();
    const int hoehe = dialog->heightForWidth(dialog->width());
    if (hoehe > dialog->height())
        dialog->resize(dialog->width(), hoehe);
}
