// The run's report, line by line, as the window's label holds it.
#pragma once

#include <string>

namespace job {

class ProgressText {
 public:
  // Adds the line and CR LF; nothing removes or edits a line.
  void appendLine(const std::string& line) {
    caption_ += line;
    caption_ += "\r\n";
  }

  const std::string& caption() const { return caption_; }

 private:
  std::string caption_;
};

}  // namespace job
