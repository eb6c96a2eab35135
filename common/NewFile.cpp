#include "common/NewFile.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace fendrix {

std::FILE* createExclusively(const std::string& path) {
    constexpr int kFlags = O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC;
    int fd = open(path.c_str(), kFlags, 0666);
    if (fd < 0 && errno == EEXIST) {
        struct stat info;
        if (lstat(path.c_str(), &info) != 0) return nullptr;
        const bool ours = S_ISREG(info.st_mode) && info.st_uid == geteuid();
        if (!S_ISLNK(info.st_mode) && !ours) {
            errno = EEXIST;
            return nullptr;
        }
        if (unlink(path.c_str()) != 0) return nullptr;
        fd = open(path.c_str(), kFlags, 0666);
    }
    if (fd < 0) return nullptr;
    std::FILE* file = fdopen(fd, "wb");
    if (file == nullptr) {
        const int saved = errno;
        close(fd);
        unlink(path.c_str());
        errno = saved;
    }
    return file;
}

bool NewFile::fail() {
    if (error == 0) error = errno != 0 ? errno : EIO;
    return false;
}

bool NewFile::create(const std::string& finalPath) {
    discard();
    path = finalPath;
    temporary = finalPath + ".partial";
    error = 0;
    file = createExclusively(temporary);
    return file != nullptr || fail();
}

bool NewFile::write(const void* data, std::size_t size) {
    if (file == nullptr || error != 0) return false;
    errno = 0;
    return size == 0 || std::fwrite(data, 1, size, file) == size || fail();
}

bool NewFile::seek(long offset) {
    if (file == nullptr || error != 0) return false;
    errno = 0;
    return std::fseek(file, offset, SEEK_SET) == 0 || fail();
}

bool NewFile::commit() {
    if (file == nullptr) return false;
    errno = 0;
    if (error == 0 && (std::fflush(file) != 0 || std::ferror(file) != 0)) fail();
    errno = 0;
    if (std::fclose(file) != 0) fail();
    file = nullptr;
    errno = 0;
    if (error == 0 && std::rename(temporary.c_str(), path.c_str()) != 0) fail();
    if (error == 0) return true;
    unlink(temporary.c_str());
    return false;
}

void NewFile::discard() {
    if (file == nullptr) return;
    std::fclose(file);
    file = nullptr;
    unlink(temporary.c_str());
}

std::string NewFile::cause() const {
    std::string text = std::strerror(error);
    if (error == EFBIG) text = "file too large for the file-size limit (ulimit -f); raise or lift the limit";
    if (error == ENOSPC || error == EDQUOT) text += "; free space there or write elsewhere";
    if (error == ENAMETOOLONG) text += "; choose a shorter results file name";
    if (error == EEXIST) text += " (and is not a file of this user); remove it";
    return text;
}

}  // namespace fendrix
