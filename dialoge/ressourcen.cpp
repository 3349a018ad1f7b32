#include "dialoge/ressourcen.h"

#include <QtGlobal>

static void initAusserhalbNamensraum()
{
    Q_INIT_RESOURCE(ressourcen);
    Q_INIT_RESOURCE(uebersetzung);
}

void initDialogRessourcen()
{
    initAusserhalbNamensraum();
}
