// Two-digit years become four-digit ones, whatever else the form holds.
#include "platform/date_form.h"

#include <gtest/gtest.h>

namespace {

TEST(DateForm, EveryTwoDigitYearGetsFourDigits) {
  const std::pair<const char*, const char*> forms[] = {
      {"%d/%m/%y", "%d/%m/%Y"},   {"%d-%m-%y", "%d-%m-%Y"},
      {"%m/%d/%Y", "%m/%d/%Y"},   {"%D", "%m/%d/%Y"},
      {"%Ey.%m", "%Y.%m"},        {"%%y %y", "%%y %Y"},
      {"%d.%m.%y%", "%d.%m.%Y%"}, {"", ""},
  };
  for (const auto& [form, expected] : forms) {
    EXPECT_EQ(platform::withFourDigitYears(form), expected) << form;
  }
}

}  // namespace
