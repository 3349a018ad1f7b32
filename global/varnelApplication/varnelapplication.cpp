#include "global/varnelApplication/varnelapplication.h"

#include "global/plattform/plattform.h"

VarnelApplication::VarnelApplication(const QString& name, int& argc, char** argv)
    : QApplication(argc, argv)
{
    m_kern = std::make_unique<VarnelKern>(name, arguments().mid(1));
    connect(m_kern.get(), &VarnelKern::fensterAktivierenAngefordert, this, &VarnelApplication::activateWindow);
    connect(m_kern.get(), &VarnelKern::dateiOeffnen, this, &VarnelApplication::dateiOeffnen);
    connect(m_kern.get(), &VarnelKern::screenReaderModus, this, &VarnelApplication::screenReaderModus);
    connect(m_kern.get(), &VarnelKern::externalApplicationWentOnline, this,
            &VarnelApplication::externalApplicationWentOnline);
    connect(m_kern.get(), &VarnelKern::externalApplicationWentOffline, this,
            &VarnelApplication::externalApplicationWentOffline);
}

VarnelApplication::~VarnelApplication() = default;

void VarnelApplication::activateWindow()
{
    if (hauptfenster)
        Plattform::fensterNachVorne(hauptfenster);
}
