#pragma once

#include <string>

namespace sensorsim {

enum class PublishResult { published, occupied, failed };

// Points `link` at `target`. A symlink already there is taken to be a leftover from an
// earlier run and replaced; anything else is someone's file and is left alone (occupied).
PublishResult publishLink(const std::string &link, const std::string &target, std::string &error);

// Removes `link` if it still points at `target`, so a newer instance's link survives.
void withdrawLink(const std::string &link, const std::string &target);

} // namespace sensorsim
