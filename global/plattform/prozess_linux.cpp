#include "global/plattform/prozess.h"

#include <QFile>

#include <csignal>
#include <spawn.h>
#include <vector>

extern char** environ;

namespace Plattform {

int starteProzess(const QString& programm, const QStringList& argumente, const QString& verzeichnis,
                  const QList<QByteArray>& umgebung, qint64& pid)
{
    std::vector<QByteArray> texte;
    texte.push_back(QFile::encodeName(programm));
    for (const QString& a : argumente)
        texte.push_back(a.toLocal8Bit());
    std::vector<char*> argv;
    for (QByteArray& t : texte)
        argv.push_back(t.data());
    argv.push_back(nullptr);
    QList<QByteArray> eintraege = umgebung;
    std::vector<char*> envp;
    for (QByteArray& e : eintraege)
        envp.push_back(e.data());
    envp.push_back(nullptr);

    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t leer, standard;
    sigemptyset(&leer);
    sigemptyset(&standard);
    for (int sig : { SIGTERM, SIGINT, SIGHUP, SIGPIPE, SIGCHLD })
        sigaddset(&standard, sig);
    posix_spawnattr_setsigmask(&attr, &leer);
    posix_spawnattr_setsigdefault(&attr, &standard);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    posix_spawn_file_actions_t aktionen;
    posix_spawn_file_actions_init(&aktionen);
    const QByteArray ordner = QFile::encodeName(verzeichnis);
    if (!verzeichnis.isEmpty())
        posix_spawn_file_actions_addchdir_np(&aktionen, ordner.constData());
    pid_t kind = 0;
    const int r = ::posix_spawn(&kind, argv[0], &aktionen, &attr, argv.data(),
                                umgebung.isEmpty() ? environ : envp.data());
    posix_spawn_file_actions_destroy(&aktionen);
    posix_spawnattr_destroy(&attr);
    pid = r == 0 ? kind : 0;
    return r;
}

} // namespace Plattform
