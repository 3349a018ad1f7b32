#pragma once
#include <QString>

// Writes the wizard's pages as PNG files into `ziel`; returns the number of
// pictures that could not be written.
int speichereWizardBilder(const QString& ziel);
