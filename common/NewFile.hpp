#pragma once

#include <cstdio>
#include <string>

namespace fendrix {

// A file that a run writes (the results, a field view), put in place whole or
// not at all: it is written under a temporary name beside its final one and
// renamed onto it only when complete and closed, so no reader ever sees half a
// file and a failed write leaves an earlier file of the same name as it was.
// Neither name is ever followed as a link: the temporary is created as a new
// file of its own, and a rename replaces a link at the final name instead of
// writing through it.
struct NewFile {
    std::string path;       // the final name
    std::string temporary;  // path + ".partial"
    std::FILE* file = nullptr;
    int error = 0;          // errno of the first failure, 0 while all went well

    ~NewFile() { discard(); }

    // Creates the temporary for binary writing. False (with `error`) when it
    // cannot be created.
    bool create(const std::string& finalPath);
    bool write(const void* data, std::size_t size);
    bool seek(long offset);
    // Flushes, closes and renames onto the final name. False (with `error`,
    // the temporary removed) when anything of the file failed.
    bool commit();
    // Closes and removes the temporary, if any.
    void discard();
    // What went wrong, for a message: the errno text, and what to do about
    // the two limits a user can change.
    std::string cause() const;

private:
    bool fail();
};

// Creates `path` exclusively for binary writing, never through a link: a link
// found there is removed (which removes only the link, not what it points to),
// and so is a regular file of ours (a leftover of a run that was killed while
// it wrote), before the file is created anew. Null with errno set otherwise.
std::FILE* createExclusively(const std::string& path);

}  // namespace fendrix
