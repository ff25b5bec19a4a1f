// Cutting the end off a text, as the job's steps do.
#include "job/text_cut.h"

#include "platform/services.h"

namespace job {

std::string withoutLast(const std::string& text, std::size_t count) {
  if (text.size() < count) {
    throw platform::RunTimeError(platform::kInvalidProcedureCall,
                                 "Invalid procedure call or argument");
  }
  return text.substr(0, text.size() - count);
}

}  // namespace job
