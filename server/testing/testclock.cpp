#include "testclock.h"

#include "serverclock.h"

#include <QFile>

namespace {

QString clockFile;

QDateTime shiftedNow()
{
    qint64 offset = 0;
    QFile file(clockFile);
    if (file.open(QIODevice::ReadOnly))
        offset = file.readAll().trimmed().toLongLong();
    return QDateTime::currentDateTimeUtc().addSecs(offset);
}

} // namespace

namespace TestClock {

void installFromEnvironment()
{
    clockFile = qEnvironmentVariable("LIBRARY_TEST_CLOCK_FILE");
    if (!clockFile.isEmpty())
        ServerClock::setSource(&shiftedNow);
}

} // namespace TestClock
