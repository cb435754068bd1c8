// The abstract device that the link loop drives.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>

// The device performs one protocol step per pass of the link loop, on the link
// thread. Its current page is named by the page's class name ("TformCommon",
// "TformKeys", "TformACP", "TformGSM"; empty for none). The GUI thread sets it
// when the user switches pages and the link thread during Read all and Write
// all, so it is kept under a lock.
class TDevice {
 public:
  virtual ~TDevice() = default;

  virtual void ReadPage() = 0;
  virtual void WritePage() = 0;
  virtual void ReadAll() = 0;
  virtual void WriteAll() = 0;
  virtual void Step(uint8_t mode) = 0;

  std::string GetPage() const {
    std::lock_guard lock(pageMutex_);
    return page_;
  }
  void SetPage(const std::string& page) {
    std::lock_guard lock(pageMutex_);
    page_ = page;
  }

 private:
  mutable std::mutex pageMutex_;
  std::string page_;
};
