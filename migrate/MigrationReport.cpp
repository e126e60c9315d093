#include "migrate/MigrationReport.h"

#include "migrate/Runner.h"

#include <algorithm>

namespace lumivex::migrate {

QString StatusName(Status status) {
  switch (status) {
    case Status::kDone:
      return QStringLiteral("done");
    case Status::kFailed:
      return QStringLiteral("failed");
    case Status::kPending:
      break;
  }
  return QStringLiteral("pending");
}

Report MakeReport(const Plan& plan, const std::map<QString, PersonState>& states) {
  Report report;
  for (const Person& person : plan.people) {
    ReportRow row;
    row.person = &person;
    if (const auto it = states.find(person.id); it != states.end()) row.state = it->second;
    if (row.state.status != Status::kDone) row.advice = AdviceFor(row.state.remedy);
    if (row.state.status == Status::kDone && row.state.remedy == u"conflicts")
      row.advice = AdviceFor(row.state.remedy);
    if (row.state.status == Status::kPending && row.state.interrupted)
      row.state.reason = QStringLiteral("stopped on the way");
    if (row.state.status == Status::kPending)
      row.advice = QStringLiteral("run the migration (again): it goes on where it stopped");
    switch (row.state.status) {
      case Status::kDone:
        ++report.done;
        break;
      case Status::kFailed:
        ++report.failed;
        break;
      case Status::kPending:
        ++report.pending;
        break;
    }
    report.totals.Add(row.state.counts);
    report.made += row.state.made;
    report.rows.push_back(row);
  }
  const auto rank = [](Status s) {
    return s == Status::kFailed ? 0 : s == Status::kPending ? 1 : 2;
  };
  std::stable_sort(report.rows.begin(), report.rows.end(),
                   [&](const ReportRow& a, const ReportRow& b) {
                     if (rank(a.state.status) != rank(b.state.status))
                       return rank(a.state.status) < rank(b.state.status);
                     return a.person->id < b.person->id;
                   });
  return report;
}

QString SummaryText(const Report& r) {
  const Counts& t = r.totals;
  const int people = r.done + r.failed + r.pending;
  QString text = QStringLiteral(
                     "People    %1 done, %2 failed, %3 pending (of %4)\n"
                     "Contacts  %5 read, %6 after merging, %7 sent, %8 unchanged, %9 conflicts, "
                     "%10 failed\n")
                     .arg(r.done)
                     .arg(r.failed)
                     .arg(r.pending)
                     .arg(people)
                     .arg(t.entries)
                     .arg(t.contacts)
                     .arg(t.Sent())
                     .arg(t.unchanged)
                     .arg(t.conflicts)
                     .arg(t.failed);
  text += QStringLiteral("Cards     %1 made over all runs\n").arg(r.made);
  for (const ReportRow& row : r.rows) {
    if (row.state.status != Status::kFailed) continue;
    text += QStringLiteral("failed    %1: %2").arg(row.person->id, row.state.reason);
    if (!row.advice.isEmpty()) text += QStringLiteral("; ") + row.advice;
    text += u'\n';
  }
  return text;
}

namespace {

QString CsvField(const QString& value) {
  if (!value.contains(u',') && !value.contains(u'"') && !value.contains(u'\n') &&
      !value.contains(u'\r'))
    return value;
  return u'"' + QString(value).replace(u'"', QStringLiteral("\"\"")) + u'"';
}

QString Html(const QString& text) {
  return text.toHtmlEscaped();
}

}  // namespace

QByteArray ReportCsv(const Report& report) {
  QString text = QStringLiteral(
      "id,status,stores,read,merged,sent,unchanged,conflicts,failed,unreadable,"
      "attempts,last event,reason,what to do,made over all runs\r\n");
  for (const ReportRow& row : report.rows) {
    const Counts& c = row.state.counts;
    QStringList fields = {row.person->id,
                          StatusName(row.state.status),
                          QString::number(row.state.stores.size()),
                          QString::number(c.entries),
                          QString::number(c.contacts),
                          QString::number(c.Sent()),
                          QString::number(c.unchanged),
                          QString::number(c.conflicts),
                          QString::number(c.failed),
                          QString::number(c.unreadable),
                          QString::number(row.state.attempts),
                          row.state.when,
                          row.state.reason,
                          row.advice,
                          QString::number(row.state.made)};
    for (QString& f : fields) f = CsvField(f);
    text += fields.join(u',') + QStringLiteral("\r\n");
  }
  return text.toUtf8();
}

QByteArray ReportHtml(const Report& report, const QString& title) {
  QString rows;
  for (const ReportRow& row : report.rows) {
    const Counts& c = row.state.counts;
    const QString status = StatusName(row.state.status);
    rows +=
        QStringLiteral("<tr class=\"%1\"><td>%2</td><td>%1</td>").arg(status, Html(row.person->id));
    for (const int n : {static_cast<int>(row.state.stores.size()), c.entries, c.contacts, c.Sent(),
                        c.unchanged, c.conflicts, c.failed})
      rows += QStringLiteral("<td class=\"n\">%1</td>").arg(n);
    rows += QStringLiteral("<td>%1</td><td>%2</td><td>%3</td></tr>\n")
                .arg(Html(row.state.when.left(19).replace(u'T', u' ')), Html(row.state.reason),
                     Html(row.advice));
  }
  const Counts& t = report.totals;
  const QString page =
      QStringLiteral(R"(<!DOCTYPE html>
<html lang="en"><head><meta charset="utf-8"><title>%1</title>
<style>
body{font-family:sans-serif;margin:1.5em;color:#222}
table{border-collapse:collapse;font-size:14px}
th,td{border:1px solid #bbb;padding:4px 8px;text-align:left;vertical-align:top}
th{background:#eee;cursor:pointer;user-select:none;white-space:nowrap}
#people td:nth-last-child(-n+2){min-width:16em;max-width:28em}
th:after{content:" \2195";color:#999}
td.n{text-align:right}
tr.failed td{background:#fde8e8}
tr.failed td:nth-child(2){font-weight:bold;color:#a40000}
tr.pending td{background:#fff6db}
.summary td{border:none;padding:2px 12px 2px 0}
</style></head><body>
<h1>%1</h1>
<table class="summary">
<tr><td>People</td><td>%2 done, %3 failed, %4 pending</td></tr>
<tr><td>Contacts</td><td>%5 read, %6 after merging, %7 sent, %8 unchanged, %9 conflicts, %10 failed (the latest run of each person)</td></tr>
<tr><td>Cards</td><td>%12 made over all runs</td></tr>
</table>
<p>Failures first, each with what to do. Click a column's heading to sort by it.</p>
<table id="people"><thead><tr><th>Person</th><th>Status</th><th>Stores</th><th>Read</th>
<th>Merged</th><th>Sent</th><th>Unchanged</th><th>Conflicts</th><th>Failed</th>
<th>Last event (UTC)</th><th>Reason</th><th>What to do</th></tr></thead>
<tbody>
%11</tbody></table>
<script>
document.querySelectorAll("#people th").forEach(function (th, column) {
  th.addEventListener("click", function () {
    var body = document.querySelector("#people tbody");
    var rows = Array.prototype.slice.call(body.rows);
    var up = th.dataset.up !== "1";
    th.dataset.up = up ? "1" : "0";
    rows.sort(function (a, b) {
      var x = a.cells[column].textContent, y = b.cells[column].textContent;
      var nx = parseFloat(x), ny = parseFloat(y);
      var order = (!isNaN(nx) && !isNaN(ny)) ? nx - ny : x.localeCompare(y);
      return up ? order : -order;
    });
    rows.forEach(function (row) { body.appendChild(row); });
  });
});
</script>
</body></html>
)")
          .arg(Html(title), QString::number(report.done), QString::number(report.failed),
               QString::number(report.pending), QString::number(t.entries),
               QString::number(t.contacts), QString::number(t.Sent()), QString::number(t.unchanged),
               QString::number(t.conflicts), QString::number(t.failed), rows,
               QString::number(report.made));  // in one pass: a % in the rows stays as it is
  return page.toUtf8();
}

}  // namespace lumivex::migrate
