#include "link.hpp"

#include <array>
#include <cerrno>
#include <cstring>

#include <sys/stat.h>
#include <unistd.h>

namespace sensorsim {

namespace {

bool readLink(const std::string &link, std::string &out) {
    std::array<char, 4096> buffer{};
    const ssize_t n = readlink(link.c_str(), buffer.data(), buffer.size() - 1);
    if (n < 0) {
        return false;
    }
    out.assign(buffer.data(), static_cast<std::size_t>(n));
    return true;
}

} // namespace

PublishResult publishLink(const std::string &link, const std::string &target, std::string &error) {
    struct stat st {};
    if (lstat(link.c_str(), &st) == 0) {
        if (!S_ISLNK(st.st_mode)) {
            error = link + " exists and is not a symlink; refusing to replace it";
            return PublishResult::occupied;
        }
        if (unlink(link.c_str()) != 0 && errno != ENOENT) {
            error = "removing old link " + link + ": " + std::strerror(errno);
            return PublishResult::failed;
        }
    } else if (errno != ENOENT) {
        error = link + ": " + std::strerror(errno);
        return PublishResult::failed;
    }

    if (symlink(target.c_str(), link.c_str()) != 0) {
        const int err = errno;
        error = "creating link " + link + ": " + std::strerror(err);
        // Something appeared there between the check and now: treat it like any other file.
        return err == EEXIST ? PublishResult::occupied : PublishResult::failed;
    }
    return PublishResult::published;
}

void withdrawLink(const std::string &link, const std::string &target) {
    std::string current;
    if (readLink(link, current) && current == target) {
        unlink(link.c_str());
    }
}

} // namespace sensorsim
