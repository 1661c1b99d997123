#include "support/sandbox.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <string.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

namespace {

const char* const sandbox_device_nodes[] = {"/dev/ttyACM0", "/dev/ttyACM11", "/dev/ttyACM19",
                                            "/dev/ttyUSB2", "/dev/ttyUSB8",  "/dev/ttyUSB16"};
// Host devices the tests and qemu still need once /dev is the sandbox's own.
const char* const sandbox_host_devices[] = {"null", "zero", "full", "random", "urandom", "tty"};
const char sandbox_host_dev[] = "/var/.host-dev";

bool sandbox_entered = false;
std::string sandbox_failure;

bool sandbox_fail(std::string& why, const std::string& step) {
    why = "no private mount namespace (" + step + ": " + strerror(errno) +
          "); run as root or allow user namespaces";
    return false;
}

bool sandbox_write_text(const char* path, const char* text) {
    const int fd = open(path, O_WRONLY);
    if (fd < 0) return false;
    const bool ok = write(fd, text, strlen(text)) == static_cast<ssize_t>(strlen(text));
    close(fd);
    return ok;
}

bool sandbox_map_user(uid_t uid, gid_t gid) {
    char map[64];
    snprintf(map, sizeof map, "0 %u 1", static_cast<unsigned>(uid));
    if (!sandbox_write_text("/proc/self/uid_map", map)) return false;
    sandbox_write_text("/proc/self/setgroups", "deny");
    snprintf(map, sizeof map, "0 %u 1", static_cast<unsigned>(gid));
    return sandbox_write_text("/proc/self/gid_map", map);
}

bool sandbox_tmpfs(const char* where) {
    return mount("sandbox", where, "tmpfs", MS_NOSUID, "mode=0755") == 0;
}

bool sandbox_bind_file(const std::string& from, const std::string& onto) {
    const int fd = open(onto.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    close(fd);
    return mount(from.c_str(), onto.c_str(), nullptr, MS_BIND, nullptr) == 0;
}

bool sandbox_build(std::string& why) {
    const uid_t uid = geteuid();
    const gid_t gid = getegid();
    const int flags = uid == 0 ? CLONE_NEWNS : CLONE_NEWNS | CLONE_NEWUSER;
    if (unshare(flags) != 0) return sandbox_fail(why, "unshare");
    if (uid != 0 && !sandbox_map_user(uid, gid)) return sandbox_fail(why, "uid_map");
    if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
        return sandbox_fail(why, "private /");

    if (!sandbox_tmpfs("/var")) return sandbox_fail(why, "tmpfs /var");
    if (mkdir("/var/data", 0755) != 0 || mkdir("/var/data/plmnWhitelist", 0755) != 0 ||
        mkdir(sandbox_host_dev, 0755) != 0)
        return sandbox_fail(why, "mkdir /var");
    if (mount("/dev", sandbox_host_dev, nullptr, MS_BIND | MS_REC, nullptr) != 0)
        return sandbox_fail(why, "keep /dev");
    if (!sandbox_tmpfs("/dev")) return sandbox_fail(why, "tmpfs /dev");
    // A pty instance of the sandbox's own, so openpty's slaves show under its /dev/pts.
    if (mkdir("/dev/pts", 0755) != 0 ||
        mount("devpts", "/dev/pts", "devpts", MS_NOSUID | MS_NOEXEC,
              "newinstance,ptmxmode=0666,mode=0620") != 0 ||
        symlink("pts/ptmx", "/dev/ptmx") != 0)
        return sandbox_fail(why, "devpts");
    for (const char* name : sandbox_host_devices) {
        const std::string host = std::string(sandbox_host_dev) + "/" + name;
        if (!sandbox_bind_file(host, std::string("/dev/") + name))
            return sandbox_fail(why, "bind " + host);
    }
    if (umount2(sandbox_host_dev, MNT_DETACH) != 0 || rmdir(sandbox_host_dev) != 0)
        return sandbox_fail(why, "drop host /dev");
    if (!sandbox_tmpfs("/proc/tty/driver")) return sandbox_fail(why, "tmpfs /proc/tty/driver");
    return true;
}

void sandbox_empty_dir(const char* path) {
    DIR* dir = opendir(path);
    if (dir == nullptr) return;
    while (dirent* entry = readdir(dir)) {
        if (strcmp(entry->d_name, ".") == 0 || strcmp(entry->d_name, "..") == 0) continue;
        const std::string inner = std::string(path) + "/" + entry->d_name;
        chmod(inner.c_str(), 0644);
        unlink(inner.c_str());
    }
    closedir(dir);
}

}  // namespace

bool sandbox_enter(std::string& why) {
    if (!sandbox_entered && sandbox_failure.empty()) {
        if (sandbox_build(sandbox_failure)) sandbox_entered = true;
    }
    why = sandbox_failure;
    return sandbox_entered;
}

void sandbox_reset() {
    umount2("/var/lock", MNT_DETACH);
    mkdir("/var/lock", 0755);
    chmod("/var/lock", 0755);
    sandbox_empty_dir("/var/lock");
    chmod("/var/data/plmnWhitelist", 0755);
    sandbox_empty_dir("/var/data/plmnWhitelist");
    sandbox_empty_dir("/var/run/mdmio");
    for (const char* node : sandbox_device_nodes) {
        umount2(node, MNT_DETACH);
        unlink(node);
    }
    unlink("/proc/tty/driver/usbserial");
    unlink("/dev/log");
}

void sandbox_write_file(const std::string& path, const std::string& content) {
    FILE* file = fopen(path.c_str(), "w");
    if (file == nullptr) {
        perror(path.c_str());
        abort();
    }
    fwrite(content.data(), 1, content.size(), file);
    fclose(file);
}

std::string sandbox_read_file(const std::string& path) {
    std::string content;
    struct stat info {};
    if (stat(path.c_str(), &info) == 0 && S_ISFIFO(info.st_mode)) return "<fifo>";
    FILE* file = fopen(path.c_str(), "r");
    if (file == nullptr) return "<missing>";
    char bytes[512];
    size_t got;
    while ((got = fread(bytes, 1, sizeof bytes, file)) > 0) content.append(bytes, got);
    fclose(file);
    return content;
}

bool sandbox_exists(const std::string& path) {
    struct stat info {};
    return lstat(path.c_str(), &info) == 0;
}

void sandbox_attach_line(const std::string& fixed_path, const std::string& line_path) {
    if (!sandbox_bind_file(line_path, fixed_path)) {
        perror(fixed_path.c_str());
        abort();
    }
}

sandbox_log::sandbox_log() {
    fd_ = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    strcpy(address.sun_path, "/dev/log");
    unlink(address.sun_path);
    // Everyone may log, as on a real system.
    if (fd_ < 0 || bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        chmod(address.sun_path, 0666) != 0) {
        perror("/dev/log");
        abort();
    }
}

sandbox_log::~sandbox_log() {
    close(fd_);
    unlink("/dev/log");
}

std::string sandbox_log::messages(int wait_ms) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(wait_ms);
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd entry{fd_, POLLIN, 0};
        if (poll(&entry, 1, left.count() > 0 ? static_cast<int>(left.count()) : 0) <= 0) break;
        char message[2048];
        const ssize_t got = recv(fd_, message, sizeof message, 0);
        if (got > 0) seen_.append(message, static_cast<size_t>(got)).push_back('\n');
    }
    return seen_;
}

bool sandbox_log::wait_for(const std::string& needle, int timeout_ms) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (messages(20).find(needle) == std::string::npos) {
        if (std::chrono::steady_clock::now() > deadline) return false;
    }
    return true;
}
