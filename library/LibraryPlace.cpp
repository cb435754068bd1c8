// Where the library is: a file, or a PostgreSQL URL read as libpq reads one,
// with the connection parameters the library takes and never a password.
#include "library/Library.h"

#include <pwd.h>
#include <unistd.h>

#include <QByteArray>
#include <QDir>
#include <QFileInfo>
#include <QStringList>

namespace {

const QString kScheme = QStringLiteral("postgresql://");

// libpq's parameters the URL may carry besides host. A password has none:
// libpq finds it in ~/.pgpass or PGPASSWORD.
const QStringList& KnownParameters() {
  static const QStringList known = {"sslmode", "sslrootcert", "sslcert", "sslkey", "connect_timeout", "application_name"};
  return known;
}

const QString kNoPassword =
    QStringLiteral("the library URL holds a password (%1); keep it in ~/.pgpass or PGPASSWORD instead");

QString Decoded(const QString& text) { return QString::fromUtf8(QByteArray::fromPercentEncoding(text.toUtf8())); }

// Every character but the unreserved ones escaped, so that the URL reads
// back the same.
QString Encoded(const QString& text) { return QString::fromLatin1(text.toUtf8().toPercentEncoding()); }

// A value as libpq's connection strings quote it.
QString Quoted(const QString& value) {
  QString text = value;
  text.replace('\\', QLatin1String("\\\\")).replace('\'', QLatin1String("\\'"));
  return '\'' + text + '\'';
}

// A host that reads back from a URL's authority as it is: a name or an
// address (IPv6 in brackets). Any other (a socket's directory, a name with
// '/', '@', '?' or '%') goes in the query, encoded.
bool PlainHost(const QString& host) {
  for (const QChar c : host)
    if (!(c.unicode() < 0x80 && c.isLetterOrNumber()) && c != u'.' && c != u'-' && c != u'_' && c != u':') return false;
  return true;
}

bool HasControl(const QString& text) {
  for (const QChar c : text)
    if (c.category() == QChar::Other_Control) return true;
  return false;
}

// Why a parameter's value cannot be taken, or nothing.
std::optional<QString> ValueProblem(const QString& key, const QString& value) {
  if (value.isEmpty()) return QStringLiteral("the library URL's parameter %1 has no value").arg(key);
  // Qt's PostgreSQL driver turns every ';' of its options into a blank (the
  // host is not one of them).
  if ((key != QLatin1String("host") && value.contains(';')) || HasControl(value))
    return QStringLiteral("the library URL's parameter %1 holds ';' or a control character").arg(key);
  if (key == QLatin1String("sslmode")) {
    static const QStringList modes = {"disable", "allow", "prefer", "require", "verify-ca", "verify-full"};
    if (!modes.contains(value))
      return QStringLiteral("the library URL's sslmode must be one of %1").arg(modes.join(", "));
  }
  if (key == QLatin1String("connect_timeout")) {
    bool ok = false;
    const int seconds = value.toInt(&ok);
    if (!ok || seconds < 0) return QStringLiteral("the library URL's connect_timeout must be a whole number of seconds");
  }
  return std::nullopt;
}

}  // namespace

QString TLibraryPlace::Display() const {
  if (Engine == TEngine::SQLite) return File;
  QString text = kScheme;
  if (!User.isEmpty()) text += User + '@';
  if (!Host.startsWith('/')) text += Host.contains(':') ? '[' + Host + ']' : Host;
  if (Port > 0) text += ':' + QString::number(Port);
  text += '/' + Database;
  if (Host.startsWith('/')) text += QStringLiteral("?host=") + Host;
  return text;
}

QString TLibraryPlace::Identity() const {
  if (Engine == TEngine::SQLite) {
    // A file not there yet: its folder's canonical path and its name.
    const QFileInfo info(File);
    const QString canonical = info.canonicalFilePath();
    if (!canonical.isEmpty()) return canonical;
    const QString folder = QFileInfo(info.absolutePath()).canonicalFilePath();
    return folder.isEmpty() ? QDir::cleanPath(info.absoluteFilePath()) : folder + '/' + info.fileName();
  }
  TLibraryPlace canonical = *this;
  canonical.Parameters.clear();
  if (canonical.User.isEmpty()) canonical.User = qEnvironmentVariable("PGUSER");
  if (canonical.User.isEmpty())
    if (const passwd* pw = getpwuid(geteuid())) canonical.User = QString::fromLocal8Bit(pw->pw_name);
  if (canonical.Host.isEmpty()) canonical.Host = qEnvironmentVariable("PGHOST");
  // Debian's libpq: the server's socket in /var/run/postgresql.
  if (canonical.Host.isEmpty()) canonical.Host = QStringLiteral("/var/run/postgresql");
  if (canonical.Host.startsWith('/')) canonical.Host = QDir::cleanPath(canonical.Host);
  else canonical.Host = canonical.Host.toLower();
  if (canonical.Port <= 0) canonical.Port = qEnvironmentVariableIntValue("PGPORT");
  if (canonical.Port <= 0) canonical.Port = 5432;
  return canonical.Url();
}

QString TLibraryPlace::Url() const {
  if (Engine == TEngine::SQLite) return File;
  QString text = kScheme;
  if (!User.isEmpty()) text += Encoded(User) + '@';
  const bool inQuery = !PlainHost(Host);
  if (!inQuery) text += Host.contains(':') ? '[' + Host + ']' : Host;
  if (Port > 0) text += ':' + QString::number(Port);
  text += '/' + Encoded(Database);
  QStringList query;
  // A socket's directory keeps its slashes: the URL stays readable.
  if (inQuery) query << "host=" + (Host.startsWith('/') ? QString::fromLatin1(Host.toUtf8().toPercentEncoding("/")) : Encoded(Host));
  for (auto it = Parameters.cbegin(); it != Parameters.cend(); ++it) query << it.key() + '=' + Encoded(it.value());
  if (!query.isEmpty()) text += '?' + query.join('&');
  return text;
}

QString TLibraryPlace::ConnectOptions() const {
  QStringList options;
  for (auto it = Parameters.cbegin(); it != Parameters.cend(); ++it) options << it.key() + '=' + Quoted(it.value());
  // A dead server is reported in seconds, unless the user set a time-out;
  // sslmode and the rest are left to libpq (its default "prefer", or PGSSLMODE).
  if (!Parameters.contains("connect_timeout") && !qEnvironmentVariableIsSet("PGCONNECT_TIMEOUT"))
    options << "connect_timeout=5";
  // Used only when neither application_name nor PGAPPNAME names one.
  options << "fallback_application_name=ostrelgsm4";
  return options.join(';');
}

std::optional<TLibraryPlace> ParseLibraryPlace(const QString& text, QString* why) {
  TLibraryPlace place;
  QString rest;
  if (text.startsWith(kScheme)) rest = text.mid(kScheme.size());
  else if (text.startsWith(QLatin1String("postgres://"))) rest = text.mid(11);
  else {
    if (text.isEmpty()) {
      *why = QStringLiteral("the library place is empty");
      return std::nullopt;
    }
    place.File = text;
    return place;
  }
  place.Engine = TLibraryPlace::TEngine::PostgreSQL;
  // postgresql://[user@][host][:port]/dbname[?key=value&...], split as
  // libpq splits it: the user part ends at the first '@' before any '/' (a
  // '?' in a password included), the query at the next '?'. The password
  // is looked for first, so that no message ever shows one.
  int userAt = -1;
  for (int i = 0; i < rest.size() && rest[i] != '/'; ++i)
    if (rest[i] == '@') {
      userAt = i;
      break;
    }
  if (userAt >= 0) {
    const QString user = rest.left(userAt);
    // "user:secret@", and "user%3Asecret@" too: no user name holds a ':'.
    if (user.contains(':') || Decoded(user).contains(':')) {
      *why = kNoPassword.arg("in its user part");
      return std::nullopt;
    }
    place.User = Decoded(user);
    rest = rest.mid(userAt + 1);
  }
  const int queryAt = rest.indexOf('?');
  const QString query = queryAt < 0 ? QString() : rest.mid(queryAt + 1);
  rest.truncate(queryAt < 0 ? rest.size() : queryAt);
  const int pathAt = rest.indexOf('/');
  QString authority = rest.left(pathAt < 0 ? rest.size() : pathAt);
  const QString path = pathAt < 0 ? QString() : rest.mid(pathAt + 1);
  const QStringList items = query.isEmpty() ? QStringList() : query.split('&');
  auto keyOf = [](const QString& item) { return Decoded(item.section('=', 0, 0)); };
  for (const QString& item : items) {
    // "password", "sslpassword", "pass%77ord", in any letter case.
    if (keyOf(item).contains(QLatin1String("password"), Qt::CaseInsensitive)) {
      *why = kNoPassword.arg("a password parameter");
      return std::nullopt;
    }
  }
  QMap<QString, QString> parameters;
  for (const QString& item : items) {
    const int equals = item.indexOf('=');
    const QString key = keyOf(item);
    if (key != QLatin1String("host") && !KnownParameters().contains(key)) {
      *why = QStringLiteral("the library URL has an unknown parameter \"%1\" (known: host, %2)")
                 .arg(key, KnownParameters().join(", "));
      return std::nullopt;
    }
    if (equals < 0) {
      *why = QStringLiteral("the library URL's parameter %1 has no value").arg(key);
      return std::nullopt;
    }
    if (parameters.contains(key)) {
      *why = QStringLiteral("the library URL gives the parameter %1 twice").arg(key);
      return std::nullopt;
    }
    const QString value = Decoded(item.mid(equals + 1));
    if (const auto problem = ValueProblem(key, value)) {
      *why = *problem;
      return std::nullopt;
    }
    parameters.insert(key, value);
  }
  // host[:port], host an address in brackets for IPv6.
  const int closing = authority.lastIndexOf(']');
  const int portAt = authority.lastIndexOf(':');
  if (portAt > closing) {
    bool ok = false;
    place.Port = authority.mid(portAt + 1).toInt(&ok);
    if (!ok || place.Port < 1 || place.Port > 65535) {
      *why = QStringLiteral("the library URL's port is not a number from 1 to 65535");
      return std::nullopt;
    }
    authority.truncate(portAt);
  }
  if (authority.startsWith('[') && authority.endsWith(']')) authority = authority.mid(1, authority.size() - 2);
  place.Host = Decoded(authority);
  if (const auto host = parameters.take("host"); !host.isEmpty()) place.Host = host;
  if (HasControl(place.Host) || HasControl(place.User)) {
    *why = QStringLiteral("the library URL's host or user holds a control character");
    return std::nullopt;
  }
  place.Database = Decoded(path);
  if (place.Database.isEmpty()) {
    *why = QStringLiteral("the library URL names no database: postgresql://user@host/dbname");
    return std::nullopt;
  }
  place.Parameters = parameters;
  return place;
}
