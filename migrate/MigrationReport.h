// The report of a migration, from its plan and every journal of it (all slices): where each
// person stands, the totals, and the same as a CSV file and a self-contained HTML page for the
// help desk (one table, sortable by any column, failures first with what to do about each).
#pragma once

#include "migrate/Journal.h"
#include "migrate/Plan.h"

#include <QString>

#include <vector>

namespace lumivex::migrate {

struct ReportRow {
  const Person* person = nullptr;
  PersonState state;
  QString advice;  // for a failure
};

struct Report {
  std::vector<ReportRow> rows;  // failures first, then pending, then done; by id within each
  int done = 0;
  int failed = 0;
  int pending = 0;
  Counts totals;  // of each person's latest run
  int made = 0;   // cards added over every run
};

Report MakeReport(const Plan& plan, const std::map<QString, PersonState>& states);

// The summary table for the terminal.
QString SummaryText(const Report& report);
// One line per person: id, status, the counts, the reason and what to do.
QByteArray ReportCsv(const Report& report);
// A page that needs nothing else to be read: the summary and the per-person table.
QByteArray ReportHtml(const Report& report, const QString& title);

QString StatusName(Status status);

}  // namespace lumivex::migrate
