#pragma once
// What a search that found nothing tells: each device tried and why it gave nothing, then
// the usual causes. One table for the window's dialog (Chinese) and the port command
// (English).

#include "modulesearch.h"

#include <QString>

enum class ReportLanguage { Chinese, English };

// Why the search gave up on one device, with what to do about it where there is something.
QString WhyGivenUp(const SearchAttempt &attempt, ReportLanguage language);

// The devices tried, one a line, and the usual causes.
QString NothingFoundReport(const SearchResult &result, ReportLanguage language);
