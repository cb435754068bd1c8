// What the parts of TLibrary share: the rows of a site, the transactions
// of both engines, and the search index that site and record changes keep
// up to date. Inside the library only.
#pragma once

#include "library/Library.h"

#include <QSet>
#include <QSqlError>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <optional>

namespace LibrarySql {

// Times are stored as ISO texts in UTC, with milliseconds.
QString Now();
QDateTime Time(const QVariant& v);
// A null QString binds as SQL NULL; the columns hold empty texts instead.
QVariant Text(const QString& text);

inline constexpr const char* kSiteColumns = "id, name, address, notes, data_number, archived, created, changed";
TSite SiteFrom(const QSqlQuery& q);
std::optional<TSite> SiteById(QSqlDatabase& db, qint64 id, QString* why);

// Statements that add or remove many rows take this many at a time.
inline constexpr int kChunk = 200;
QString Placeholders(int count, const QString& one);

// A transaction: on SQLite one that takes the write lock at once, so that
// two programs never both read and then both wait to write.
bool Begin(QSqlDatabase& db, bool sqlite, QString* why);
bool Commit(QSqlDatabase& db, bool sqlite, QString* why);
void Rollback(QSqlDatabase& db, bool sqlite);
bool Exec(QSqlQuery& q, QString* why);

// What went wrong, as the engine's code says it (SQLSTATE on PostgreSQL,
// SQLite's result codes), never as its message, which may be in any
// language: a unique key taken, the database busy or locked by another
// program, or anything else.
enum class TDbFault { Other, Unique, Busy };
TDbFault FaultOf(const QSqlError& error, bool sqlite);

// The chain of records (LibraryRecords.cpp). A record's hash is taken over
// these columns, in this order, as stored, and the previous record's hash:
// the ten of kChainColumns for a record kept before outcome codes (the
// first form), the twelve of kCodedChainColumns since (the second).
inline constexpr const char* kChainColumns =
    "site_id, number, at, operator, host, kind, outcome, firmware, port, settings";
inline constexpr const char* kCodedChainColumns =
    "site_id, number, at, operator, host, kind, outcome, firmware, port, settings, code, detail";
inline constexpr int kChainValues = 10;
inline constexpr int kCodedChainValues = 12;
QString RecordHash(const QStringList& content, const QString& previous);
// A text as the database gives it back: UTF-8 that does not survive the
// round trip (a lone surrogate) would hash one way and read back another.
QString Stored(const QString& text);

// The search index (LibrarySearch.cpp).
// The phone numbers and keys a record's settings hold, with the numbers'
// digits (WithPhoneDigits).
QStringList SearchTerms(const QByteArray& settings);
// The digits of a text that holds digits and a phone number's separators
// alone (blanks, "+", "-", brackets, dots); else nothing.
QString PhoneDigits(const QString& text);
// The terms with each phone number's digits added, and for an 11-digit
// Russian number both its 7... and 8... forms: a number is found however it
// is typed.
QStringList WithPhoneDigits(const QStringList& terms);
// The grams of a site's fields and of the terms of its latest record.
QSet<QString> SiteGrams(const TSite& site, const QStringList& terms);
std::optional<QStringList> StoredTerms(QSqlDatabase& db, qint64 id, QString* why);
// Changes the site's grams from old to now: only those that differ.
bool StoreGrams(QSqlDatabase& db, qint64 id, const QSet<QString>& old, const QSet<QString>& now, QString* why);
// The terms of the site's latest record, and its grams with them, when they
// changed. Inside the caller's transaction, after the record is stored.
bool StoreTerms(QSqlDatabase& db, bool sqlite, qint64 id, const QStringList& terms, QString* why);

}  // namespace LibrarySql
