#include "serversettings.h"

#include "levels.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>

#include <type_traits>

ServerSettings::ServerSettings()
{
    loanLimits = {
        {Levels::englishName(Levels::Undergraduate), 5}, {Levels::englishName(Levels::Postgraduate), 10},
        {Levels::englishName(Levels::Vip), 20},          {Levels::englishName(Levels::Administrator), 50},
        {Levels::englishName(Levels::SuperAdmin), 100},
    };
    maxHolds = {
        {Levels::englishName(Levels::Undergraduate), 5}, {Levels::englishName(Levels::Postgraduate), 10},
        {Levels::englishName(Levels::Vip), 20},          {Levels::englishName(Levels::Administrator), 50},
        {Levels::englishName(Levels::SuperAdmin), 100},
    };
    loanPeriods = {
        {Levels::englishName(Levels::Undergraduate), 30}, {Levels::englishName(Levels::Postgraduate), 60},
        {Levels::englishName(Levels::Vip), 90},           {Levels::englishName(Levels::Administrator), 90},
        {Levels::englishName(Levels::SuperAdmin), 90},
    };
}

QString DatabaseSettings::location() const
{
    if (isSqlite())
        return QDir::current().absoluteFilePath(name);
    const QString server = host.isEmpty() ? QStringLiteral("local socket") : host;
    return server + (port > 0 ? QStringLiteral(":%1").arg(port) : QString()) + QLatin1Char('/') + name
        + (schema.isEmpty() ? QString() : QStringLiteral(" schema ") + schema);
}

namespace {

// Reads a number key within [min, max]; anything else keeps the default and is reported.
template <class Number>
Number readNumber(const QSettings& ini, const QString& key, Number fallback, Number min, Number max,
                  QStringList* problems)
{
    if (!ini.contains(key))
        return fallback;
    bool ok = false;
    const QString text = ini.value(key).toString().trimmed();
    Number value;
    if constexpr (std::is_same_v<Number, int>)
        value = text.toInt(&ok);
    else
        value = text.toDouble(&ok);
    if (!ok || !(value >= min && value <= max)) {
        if (problems)
            problems->append(QStringLiteral("%1: \"%2\" is not a number from %3 to %4, using %5")
                                 .arg(key, ini.value(key).toString())
                                 .arg(min)
                                 .arg(max)
                                 .arg(fallback));
        return fallback;
    }
    return value;
}

int readInt(const QSettings& ini, const QString& key, int fallback, int min, int max, QStringList* problems)
{
    return readNumber(ini, key, fallback, min, max, problems);
}

double readDouble(const QSettings& ini, const QString& key, double fallback, double min, double max,
                  QStringList* problems)
{
    return readNumber(ini, key, fallback, min, max, problems);
}

bool readBool(const QSettings& ini, const QString& key, bool fallback, QStringList* problems)
{
    if (!ini.contains(key))
        return fallback;
    const QString text = ini.value(key).toString().trimmed().toLower();
    if (text == QLatin1String("true") || text == QLatin1String("1") || text == QLatin1String("yes"))
        return true;
    if (text == QLatin1String("false") || text == QLatin1String("0") || text == QLatin1String("no"))
        return false;
    if (problems)
        problems->append(
            QStringLiteral("%1: \"%2\" is not true or false, using %3")
                .arg(key, ini.value(key).toString(), fallback ? QStringLiteral("true") : QStringLiteral("false")));
    return fallback;
}

QString readString(const QSettings& ini, const QString& key, const QString& fallback)
{
    return ini.contains(key) ? ini.value(key).toString() : fallback;
}

} // namespace

ServerSettings ServerSettings::load(const QString& path, QStringList* problems)
{
    ServerSettings s;
    if (!QFileInfo::exists(path))
        return s;
    QSettings ini(path, QSettings::IniFormat);

    const QString address = ini.value(QStringLiteral("network/address")).toString().trimmed();
    if (!address.isEmpty()) {
        QHostAddress parsed;
        if (parsed.setAddress(address))
            s.address = parsed;
        else if (problems)
            problems->append(
                QStringLiteral("network/address: \"%1\" is not an address, listening on all").arg(address));
    }
    s.port = quint16(readInt(ini, QStringLiteral("network/port"), s.port, 0, 65535, problems));
    s.maxConnections = readInt(ini, QStringLiteral("network/maxConnections"), s.maxConnections, 1, 100000, problems);
    s.readTimeoutMs = readInt(ini, QStringLiteral("network/readTimeoutMs"), s.readTimeoutMs, 100, 3600000, problems);
    s.plain = readBool(ini, QStringLiteral("network/plain"), s.plain, problems);
    s.maxConnectionsPerAddress = readInt(ini, QStringLiteral("network/maxConnectionsPerAddress"),
                                         s.maxConnectionsPerAddress, 1, 100000, problems);
    s.firstByteTimeoutMs =
        readInt(ini, QStringLiteral("network/firstByteTimeoutMs"), s.firstByteTimeoutMs, 100, 3600000, problems);

    s.tls = readBool(ini, QStringLiteral("tls/enabled"), s.tls, problems);
    s.tlsPort = quint16(readInt(ini, QStringLiteral("tls/port"), s.tlsPort, 0, 65535, problems));
    s.tlsCertificate = readString(ini, QStringLiteral("tls/certificate"), s.tlsCertificate).trimmed();
    s.tlsKey = readString(ini, QStringLiteral("tls/key"), s.tlsKey).trimmed();

    DatabaseSettings& db = s.database;
    db.driver = readString(ini, QStringLiteral("database/driver"), db.driver);
    db.name = readString(ini, QStringLiteral("database/name"), db.name);
    db.host = readString(ini, QStringLiteral("database/host"), db.host);
    db.port = readInt(ini, QStringLiteral("database/port"), db.port, 0, 65535, problems);
    db.user = readString(ini, QStringLiteral("database/user"), db.user);
    db.password = readString(ini, QStringLiteral("database/password"), db.password);
    db.schema = readString(ini, QStringLiteral("database/schema"), db.schema).trimmed();
    db.readers = readInt(ini, QStringLiteral("database/readers"), db.readers, 0, 64, problems);
    db.writers = readInt(ini, QStringLiteral("database/writers"), db.writers, 1, 64, problems);

    s.adminId = readString(ini, QStringLiteral("admin/id"), s.adminId);
    s.adminInitialPassword = readString(ini, QStringLiteral("admin/initialPassword"), s.adminInitialPassword);

    s.seedFile = readString(ini, QStringLiteral("catalogue/seed"), s.seedFile);
    s.maxSearchRows = readInt(ini, QStringLiteral("catalogue/maxSearchRows"), s.maxSearchRows, 1, 1000000, problems);
    // QSettings reads "a, b" as a list of two.
    if (const QVariant targets = ini.value(QStringLiteral("cataloguing/targets")); targets.isValid())
        s.cataloguingTargets = targets.toStringList().join(QLatin1Char(','));
    s.cataloguingTimeoutSeconds =
        readInt(ini, QStringLiteral("cataloguing/timeoutSeconds"), s.cataloguingTimeoutSeconds, 1, 60, problems);
    s.cataloguingMaxRecords =
        readInt(ini, QStringLiteral("cataloguing/maxRecords"), s.cataloguingMaxRecords, 1, 100, problems);

    for (int level = Levels::Undergraduate; level <= Levels::SuperAdmin; ++level) {
        const QString name = Levels::englishName(level);
        s.loanLimits[name] =
            readInt(ini, QStringLiteral("loanLimits/") + name, s.loanLimits.value(name), 0, 1000000, problems);
    }

    for (int level = Levels::Undergraduate; level <= Levels::SuperAdmin; ++level) {
        const QString name = Levels::englishName(level);
        s.loanPeriods[name] =
            readInt(ini, QStringLiteral("loanPeriods/") + name, s.loanPeriods.value(name), 1, 3650, problems);
    }
    s.blockWhenOverdue = readBool(ini, QStringLiteral("circulation/blockWhenOverdue"), s.blockWhenOverdue, problems);
    s.maxRenewals = readInt(ini, QStringLiteral("circulation/maxRenewals"), s.maxRenewals, 0, 1000, problems);
    s.renewOverdueDays =
        readInt(ini, QStringLiteral("circulation/renewOverdueDays"), s.renewOverdueDays, 0, 3650, problems);
    s.holdDays = readInt(ini, QStringLiteral("circulation/holdDays"), s.holdDays, 1, 365, problems);
    s.renewWithinDays =
        readInt(ini, QStringLiteral("circulation/renewWithinDays"), s.renewWithinDays, 0, 3650, problems);
    for (int level = Levels::Undergraduate; level <= Levels::SuperAdmin; ++level) {
        const QString name = Levels::englishName(level);
        s.maxHolds[name] =
            readInt(ini, QStringLiteral("maxHolds/") + name, s.maxHolds.value(name), 0, 100000, problems);
    }

    s.sessionMaxHours =
        readDouble(ini, QStringLiteral("security/sessionHours"), s.sessionMaxHours, 0.001, 24 * 365, problems);
    s.sessionMaxHours =
        readDouble(ini, QStringLiteral("security/sessionMaxHours"), s.sessionMaxHours, 0.001, 24 * 365, problems);
    s.sessionIdleMinutes = readDouble(ini, QStringLiteral("security/sessionIdleMinutes"), s.sessionIdleMinutes, 0.001,
                                      60 * 24 * 365, problems);
    s.passwordChangeMinutes = readDouble(ini, QStringLiteral("security/passwordChangeMinutes"), s.passwordChangeMinutes,
                                         0.001, 60 * 24 * 365, problems);
    s.addressSessions = readBool(ini, QStringLiteral("security/addressSessions"), s.addressSessions, problems);
    s.addressSessionIdleMinutes = readDouble(ini, QStringLiteral("security/addressSessionIdleMinutes"),
                                             s.addressSessionIdleMinutes, 0.001, 60 * 24 * 365, problems);
    s.addressPasswordChange =
        readBool(ini, QStringLiteral("security/addressPasswordChange"), s.addressPasswordChange, problems);
    s.deviceTokenDays = readInt(ini, QStringLiteral("security/deviceTokenDays"), s.deviceTokenDays, 1, 3650, problems);
    s.loginFailuresAllowed =
        readInt(ini, QStringLiteral("security/loginFailuresAllowed"), s.loginFailuresAllowed, 1, 1000, problems);
    s.loginFailuresPerAddress = readInt(ini, QStringLiteral("security/loginFailuresPerAddress"),
                                        s.loginFailuresPerAddress, 1, 100000, problems);
    s.loginFailuresPerAccount = readInt(ini, QStringLiteral("security/loginFailuresPerAccount"),
                                        s.loginFailuresPerAccount, 1, 100000, problems);
    s.loginLockoutMs =
        readInt(ini, QStringLiteral("security/loginLockoutMs"), s.loginLockoutMs, 0, 24 * 3600 * 1000, problems);

    s.registrationsPerAddressPerHour = readInt(ini, QStringLiteral("registration/perAddressPerHour"),
                                               s.registrationsPerAddressPerHour, 0, 1000000, problems);
    s.registrationsPerNetworkPerHour = readInt(ini, QStringLiteral("registration/perNetworkPerHour"),
                                               s.registrationsPerNetworkPerHour, 0, 1000000, problems);
    s.unconfirmedDays =
        readInt(ini, QStringLiteral("registration/unconfirmedDays"), s.unconfirmedDays, 0, 36500, problems);
    s.maxUnconfirmedAccounts =
        readInt(ini, QStringLiteral("registration/maxUnconfirmed"), s.maxUnconfirmedAccounts, 0, 10000000, problems);

    s.backupDirectory = readString(ini, QStringLiteral("backup/directory"), s.backupDirectory).trimmed();
    s.backupEveryHours = readInt(ini, QStringLiteral("backup/everyHours"), s.backupEveryHours, 1, 24 * 365, problems);
    s.backupKeep = readInt(ini, QStringLiteral("backup/keep"), s.backupKeep, 1, 10000, problems);

    s.loanHistoryDays = readInt(ini, QStringLiteral("privacy/loanHistoryDays"), s.loanHistoryDays, 0, 36500, problems);

    NoticeSettings& n = s.notices;
    n.enabled = readBool(ini, QStringLiteral("notices/enabled"), n.enabled, problems);
    n.dueSoonDays = readInt(ini, QStringLiteral("notices/dueSoonDays"), n.dueSoonDays, 0, 365, problems);
    n.overdueEveryDays = readInt(ini, QStringLiteral("notices/overdueEveryDays"), n.overdueEveryDays, 1, 365, problems);
    n.overdueMax = readInt(ini, QStringLiteral("notices/overdueMax"), n.overdueMax, 0, 100, problems);
    n.scanSeconds = readInt(ini, QStringLiteral("notices/scanSeconds"), n.scanSeconds, 1, 7 * 24 * 3600, problems);
    n.libraryName = readString(ini, QStringLiteral("notices/libraryName"), n.libraryName).trimmed();
    n.templates = readString(ini, QStringLiteral("notices/templates"), n.templates).trimmed();
    n.smtpUrl = readString(ini, QStringLiteral("notices/smtpUrl"), n.smtpUrl).trimmed();
    n.smtpUser = readString(ini, QStringLiteral("notices/smtpUser"), n.smtpUser);
    n.smtpPassword = readString(ini, QStringLiteral("notices/smtpPassword"), n.smtpPassword);
    n.from = readString(ini, QStringLiteral("notices/from"), n.from).trimmed();
    n.allowPlainSmtp = readBool(ini, QStringLiteral("notices/allowPlainSmtp"), n.allowPlainSmtp, problems);
    return s;
}
