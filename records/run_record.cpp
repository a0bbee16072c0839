#include "records/run_record.h"

#include <algorithm>
#include <cctype>

namespace records {

const char* OutcomeName(Outcome outcome) {
  switch (outcome) {
    case Outcome::kPass:
      return "PASS";
    case Outcome::kFail:
      return "FAIL";
    case Outcome::kSkip:
      return "SKIP";
    case Outcome::kError:
      return "ERROR";
  }
  return "ERROR";
}

bool ParseOutcome(const std::string& text, Outcome* outcome) {
  std::string upper = text;
  std::transform(upper.begin(), upper.end(), upper.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  for (Outcome o : {Outcome::kPass, Outcome::kFail, Outcome::kSkip, Outcome::kError}) {
    if (upper == OutcomeName(o)) {
      *outcome = o;
      return true;
    }
  }
  return false;
}

}  // namespace records
