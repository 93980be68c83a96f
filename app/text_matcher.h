// The process-wide text-match options object. The program only initialises it,
// sets its two options and kills it; nothing on the purge's road reads it.
#pragma once

namespace app {

class TextMatcher {
 public:
  void Init();
  // Option 1 matches without regard to case; option 2 matches whole words only.
  void SetOption(int option, bool on);
  bool Option(int option) const;
  void Kill();
  bool Initialized() const { return initialized_; }

 private:
  bool initialized_ = false;
  bool ignoreCase_ = false;
  bool wholeWords_ = true;
};

}  // namespace app
