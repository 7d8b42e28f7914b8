// A card image (FAT file system, with or without a partition table) read with mtools, which
// needs no mount and works as any user.
#pragma once

#include <string>

namespace vdr {

bool looksLikeCardImage(const std::string& path);
// Byte offset of the FAT file system in the image: 0, or the first partition's start.
long fatOffset(const std::string& path);

class CardImage {
 public:
  CardImage() = default;
  ~CardImage();
  CardImage(const CardImage&) = delete;
  CardImage& operator=(const CardImage&) = delete;
  // Copies the card's recordings and travel logs (CH1 and log) into a temporary directory.
  bool extract(const std::string& image, std::string* error);
  const std::string& dir() const { return dir_; }

 private:
  std::string dir_;
};

}  // namespace vdr
