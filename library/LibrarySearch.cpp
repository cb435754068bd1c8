#include "library/LibrarySql.h"

#include <QRegularExpression>
#include <QSqlError>
#include <algorithm>
#include <string>

namespace {

// The search index: every run of three characters (code points) of a
// site's name, address, notes and data number and of the phone numbers and
// keys of its latest record, in lower case, each field followed by two
// kGramEnd, so that every text of one or two characters a field holds
// starts one of its grams. Search looks up the grams of the text and checks
// the few sites that hold them all exactly.
constexpr char32_t kGramEnd = 0x01;
constexpr int kGramLength = 3;

void AddGrams(const QString& field, QSet<QString>* grams) {
  if (field.isEmpty()) return;
  std::u32string text = field.toLower().toStdU32String();
  text.append(kGramLength - 1, kGramEnd);
  for (size_t i = 0; i + kGramLength <= text.size(); ++i)
    grams->insert(QString::fromUcs4(text.data() + i, kGramLength));
}

// The text followed by the highest character: the end of the range of the
// grams that start with the text.
QString AfterPrefix(const QString& text) { return text + QString::fromUcs4(U"\U0010FFFF", 1); }

QString Pattern(const QString& text) {
  QString escaped = text.toLower();
  escaped.replace('\\', "\\\\").replace('%', "\\%").replace('_', "\\_");
  return '%' + escaped + '%';
}

const char* const kSiteColumnsOfS = "s.id, s.name, s.address, s.notes, s.data_number, s.archived, s.created, s.changed";

// At most this many rows of one gram are counted: a gram held by more sites
// is no help in narrowing a search.
constexpr int kGramCountCap = 2000;

// At most this many of the rarest grams pick the sites to check: a server's
// planner takes about twice as long for each gram more (150 ms for eight),
// and the exact check that follows makes more of them no surer.
constexpr size_t kMostJoined = 3;

}  // namespace

namespace LibrarySql {

// The terms search finds a site by besides its own fields: the phone numbers
// and keys its latest record holds (the [Phones] and [Keys] lines).
QStringList SearchTerms(const QByteArray& settings) {
  QStringList terms;
  QString section;
  for (QString line : QString::fromUtf8(settings).split(QRegularExpression("\r?\n"))) {
    line = line.trimmed();
    if (line.startsWith('[') && line.endsWith(']')) {
      section = line.mid(1, line.size() - 2).trimmed().toLower();
      continue;
    }
    const qsizetype eq = line.indexOf('=');
    if (eq < 0 || (section != "phones" && section != "keys")) continue;
    const QString value = line.mid(eq + 1).trimmed();
    if (value.isEmpty() || value == QString(16, '0')) continue;
    if (!terms.contains(value)) terms << value;
  }
  return WithPhoneDigits(terms);
}

QString PhoneDigits(const QString& text) {
  QString digits;
  for (const QChar c : text) {
    if (c >= u'0' && c <= u'9') digits += c;
    else if (!c.isSpace() && c != u'+' && c != u'-' && c != u'(' && c != u')' && c != u'.') return {};
  }
  return digits;
}

QStringList WithPhoneDigits(const QStringList& terms) {
  QStringList all = terms;
  auto add = [&all](const QString& term) {
    if (!all.contains(term)) all << term;
  };
  for (const QString& term : terms) {
    // A key of hexadecimal letters holds no phone number.
    const QString digits = PhoneDigits(term);
    if (digits.isEmpty()) continue;
    add(digits);
    // 8 and +7 start the same Russian number.
    if (digits.size() == 11 && (digits[0] == u'7' || digits[0] == u'8')) {
      add(u'7' + digits.mid(1));
      add(u'8' + digits.mid(1));
    }
  }
  return all;
}

QSet<QString> SiteGrams(const TSite& site, const QStringList& terms) {
  QSet<QString> grams;
  for (const QString& field : {site.Name, site.Address, site.Notes, site.DataNumber}) AddGrams(field, &grams);
  for (const QString& term : terms) AddGrams(term, &grams);
  return grams;
}

std::optional<QStringList> StoredTerms(QSqlDatabase& db, qint64 id, QString* why) {
  QSqlQuery q(db);
  q.setForwardOnly(true);
  q.prepare("SELECT term FROM site_terms WHERE site_id = ?");
  q.addBindValue(id);
  if (!Exec(q, why)) return std::nullopt;
  QStringList terms;
  while (q.next()) terms << q.value(0).toString();
  return terms;
}

bool StoreGrams(QSqlDatabase& db, qint64 id, const QSet<QString>& old, const QSet<QString>& now, QString* why) {
  QStringList gone, added;
  for (const QString& gram : old)
    if (!now.contains(gram)) gone << gram;
  for (const QString& gram : now)
    if (!old.contains(gram)) added << gram;
  std::sort(gone.begin(), gone.end());
  std::sort(added.begin(), added.end());
  for (qsizetype i = 0; i < gone.size(); i += kChunk) {
    const int n = int(std::min<qsizetype>(kChunk, gone.size() - i));
    QSqlQuery q(db);
    q.prepare("DELETE FROM site_grams WHERE site_id = ? AND gram IN (" + Placeholders(n, "?") + ")");
    q.addBindValue(id);
    for (int k = 0; k < n; ++k) q.addBindValue(gone[i + k]);
    if (!Exec(q, why)) return false;
  }
  for (qsizetype i = 0; i < added.size(); i += kChunk) {
    const int n = int(std::min<qsizetype>(kChunk, added.size() - i));
    QSqlQuery q(db);
    q.prepare("INSERT INTO site_grams (gram, site_id) VALUES " + Placeholders(n, "(?, ?)") +
              " ON CONFLICT DO NOTHING");
    for (int k = 0; k < n; ++k) {
      q.addBindValue(added[i + k]);
      q.addBindValue(id);
    }
    if (!Exec(q, why)) return false;
  }
  return true;
}

bool StoreTerms(QSqlDatabase& db, bool sqlite, qint64 id, const QStringList& terms, QString* why) {
  const auto old = StoredTerms(db, id, why);
  if (!old) return false;
  if (QSet<QString>(old->begin(), old->end()) == QSet<QString>(terms.begin(), terms.end())) return true;
  if (!sqlite) {
    // The site's row is locked: a change of its name, address or notes
    // meanwhile would compute its grams from the old terms.
    QSqlQuery lock(db);
    lock.prepare("UPDATE sites SET archived = archived WHERE id = ?");
    lock.addBindValue(id);
    if (!Exec(lock, why)) return false;
  }
  const auto site = SiteById(db, id, why);
  if (!site || !StoreGrams(db, id, SiteGrams(*site, *old), SiteGrams(*site, terms), why)) return false;
  QSqlQuery del(db);
  del.prepare("DELETE FROM site_terms WHERE site_id = ?");
  del.addBindValue(id);
  if (!Exec(del, why)) return false;
  for (qsizetype i = 0; i < terms.size(); i += kChunk) {
    const int n = int(std::min<qsizetype>(kChunk, terms.size() - i));
    QSqlQuery add(db);
    add.prepare("INSERT INTO site_terms (site_id, term) VALUES " + Placeholders(n, "(?, ?)"));
    for (int k = 0; k < n; ++k) {
      add.addBindValue(id);
      add.addBindValue(terms[i + k]);
    }
    if (!Exec(add, why)) return false;
  }
  return true;
}

}  // namespace LibrarySql

using namespace LibrarySql;

std::vector<TSite> TLibrary::Search(const QString& text, int limit, bool archived) {
  // A phone number as installers type it ("+7 (916) 199-99-99") is looked
  // for by its digits too, which the numbers' search terms hold.
  const QString digits = PhoneDigits(text);
  if (digits.isEmpty() || digits == text) return SearchText(text, limit, archived);
  std::vector<TSite> sites = SearchText(digits, limit, archived);
  std::vector<TSite> asTyped = SearchText(text, limit, archived);
  if (sites.empty()) return asTyped;
  QSet<qint64> found;
  for (const TSite& site : sites) found.insert(site.Id);
  const size_t byDigits = sites.size();
  for (TSite& site : asTyped)
    if (!found.contains(site.Id)) sites.push_back(std::move(site));
  if (sites.size() == byDigits) return sites;
  // Both found some: the two lists merged by name (the database's order of
  // each list is kept where the names are equal).
  std::stable_sort(sites.begin(), sites.end(), [](const TSite& a, const TSite& b) { return a.Name < b.Name; });
  if (int(sites.size()) > limit) sites.resize(size_t(limit));
  return sites;
}

std::vector<TSite> TLibrary::SearchText(const QString& text, int limit, bool archived) {
  std::vector<TSite> sites;
  QSqlDatabase db = Database();
  const QString lowered = text.toLower();
  const std::u32string chars = lowered.toStdU32String();
  // What every site found satisfies, checked exactly.
  QString where = QStringLiteral(
      "(s.archived = 0 OR ? = 1) AND (s.search LIKE ? ESCAPE '\\' OR EXISTS (SELECT 1 FROM site_terms t "
      "WHERE t.site_id = s.id AND lower(t.term) LIKE ? ESCAPE '\\'))");
  const QString pattern = Pattern(text);
  QVariantList values{archived ? 1 : 0, pattern, pattern};
  // The index narrows it down: the grams of the text (a few spread over a
  // long one), each counted up to a cap; a gram no site holds ends the
  // search, the rarest one picks the sites to check. A text that crosses a
  // line or holds the index's own end mark is looked for without it, as is
  // one in a library of a newer schema.
  const bool indexed = !chars.empty() && !readOnly_ && !lowered.contains(u'\n') &&
                       std::find(chars.begin(), chars.end(), kGramEnd) == chars.end();
  // Whether many sites may hold the text.
  bool common = true;
  if (indexed) {
    struct TGram {
      QString Text;
      int Count = 0;
    };
    std::vector<TGram> grams;
    const bool shortText = chars.size() < size_t(kGramLength);
    if (shortText) {
      grams.push_back({lowered});
    } else {
      const size_t count = chars.size() - kGramLength + 1;
      constexpr size_t kMostGrams = 8;
      for (size_t k = 0; k < std::min(count, kMostGrams); ++k) {
        const size_t at = count <= kMostGrams ? k : k * (count - 1) / (kMostGrams - 1);
        const QString gram = QString::fromUcs4(chars.data() + at, kGramLength);
        if (std::none_of(grams.begin(), grams.end(), [&](const TGram& g) { return g.Text == gram; }))
          grams.push_back({gram});
      }
    }
    const QString match = shortText ? QStringLiteral("gram >= ? AND gram < ?") : QStringLiteral("gram = ?");
    for (TGram& gram : grams) {
      QSqlQuery q(db);
      q.prepare(QStringLiteral("SELECT count(*) FROM (SELECT 1 FROM site_grams WHERE %1 LIMIT %2) c")
                    .arg(match)
                    .arg(kGramCountCap));
      q.addBindValue(gram.Text);
      if (shortText) q.addBindValue(AfterPrefix(gram.Text));
      if (!q.exec() || !q.next()) {
        Fail("library: " + q.lastError().text());
        return sites;
      }
      gram.Count = q.value(0).toInt();
      if (gram.Count == 0) return sites;
    }
    std::sort(grams.begin(), grams.end(), [](const TGram& a, const TGram& b) { return a.Count < b.Count; });
    if (grams.front().Count < kGramCountCap) {
      // Few sites hold the rarest gram: those, if they hold the other rare
      // ones too (a common gram narrows nothing and costs a long read).
      QString candidates = "SELECT g0.site_id FROM site_grams g0 WHERE g0." + match;
      QVariantList candidateValues{grams.front().Text};
      if (shortText) candidateValues << AfterPrefix(grams.front().Text);
      for (size_t k = 1; k < std::min(grams.size(), kMostJoined) && grams[k].Count < kGramCountCap; ++k) {
        candidates += QStringLiteral(" AND EXISTS (SELECT 1 FROM site_grams g%1 WHERE g%1.gram = ? AND g%1.site_id = g0.site_id)").arg(k);
        candidateValues << grams[k].Text;
      }
      where = "s.id IN (" + candidates + ") AND " + where;
      values = candidateValues + values;
      common = false;
    } else if (!shortText) {
      // Every gram is common: the sites in order of name, each looked up.
      for (size_t k = 0; k < std::min(grams.size(), kMostJoined); ++k) {
        where += QStringLiteral(" AND EXISTS (SELECT 1 FROM site_grams g%1 WHERE g%1.gram = ? AND g%1.site_id = s.id)").arg(k);
        values << grams[k].Text;
      }
    }
    // A short text held by many sites: the first sites by name hold it.
  }
  auto run = [&](const QString& from) {
    sites.clear();
    QSqlQuery q(db);
    q.setForwardOnly(true);
    q.prepare(QStringLiteral("SELECT %1 FROM %2 s WHERE %3 ORDER BY s.name LIMIT ?").arg(kSiteColumnsOfS, from, where));
    for (const QVariant& v : values) q.addBindValue(v);
    q.addBindValue(limit);
    if (!q.exec()) return Fail("library: " + q.lastError().text());
    while (q.next()) sites.push_back(SiteFrom(q));
    return true;
  };
  // A text many sites hold is looked for first among the first sites by
  // name: when they hold enough, those are the first matches (a server's
  // planner may otherwise check every site before it sorts).
  constexpr int kWindow = 400;
  if (common && limit <= kWindow / 4) {
    if (!run(QStringLiteral("(SELECT * FROM sites ORDER BY name LIMIT %1)").arg(kWindow))) return {};
    if (int(sites.size()) == limit) return sites;
  }
  if (!run(QStringLiteral("sites"))) return {};
  return sites;
}
