#include "desktop/stores/SettingsFile.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quorvel::desktop {

void keepSettingsPrivate() {
  const QString path = QSettings().fileName();
  if (!QDir().mkpath(QFileInfo(path).absolutePath())) return;
  const QByteArray name = QFile::encodeName(path);
  // Created owner-only from the start, so there is no moment in which others may read it.
  const int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) return;
  ::fchmod(fd, 0600);
  ::close(fd);
}

}  // namespace quorvel::desktop
