// A directory listing sorted by name in ascending byte order, freed when it goes out of scope.
#pragma once

#include <cstdlib>
#include <dirent.h>

#include "platform/platform.h"

class DirList {
 public:
  DirList() = default;
  DirList(const DirList&) = delete;
  DirList& operator=(const DirList&) = delete;
  ~DirList() { release(); }

  // The number of entries ("." and ".." included), or -1.
  int scan(const char* dir) {
    release();
    count_ = plat::scandir(dir, &names_, nullptr, alphasort);
    return count_;
  }
  int count() const { return count_; }
  const char* name(int i) const { return names_[i]->d_name; }

 private:
  void release() {
    for (int i = 0; i < count_; ++i) free(names_[i]);
    free(names_);
    names_ = nullptr;
    count_ = -1;
  }
  struct dirent** names_ = nullptr;
  int count_ = -1;
};
