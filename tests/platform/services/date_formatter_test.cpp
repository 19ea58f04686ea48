#include "platform/services/date_formatter.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace {

// ICU's best pattern for each template (as its own command-line use gives it), in Qt's letters:
// the stand-alone month, the day period and the weekday have other letters there, quoted words
// stay quoted.
TEST(DatePatterns, TheLocalesPatternInQtsLetters) {
  const struct {
    const char* locale;
    const char* dateTemplate;
    const char* pattern;
  } cases[] = {
      {"en_US", "yyyyMMdd", "MM/dd/yyyy"},           // ICU: MM/dd/yyyy
      {"en_US", "yyMMdd", "MM/dd/yy"},               // ICU: MM/dd/yy
      {"en_US", "hmm", "h:mm\u202f" "AP"},           // ICU: h:mm a, a narrow no-break space between
      {"fi_FI", "MMMdd HHmm", "dd. MMM 'klo' H.mm"},  // ICU: dd. MMM 'klo' H.mm
      {"fa_IR", "MMMdd", "dd MMM"},                  // ICU: dd LLL
      {"en_US", "EEEEMMMd", "dddd, MMM d"},          // ICU: EEEE, MMM d
      {"de_DE", "EEEMMMMd", "ddd, d. MMMM"},         // ICU: EEE, d. MMMM
  };
  for (const auto& c : cases)
    EXPECT_EQ(platform::datePatternFromTemplate(c.dateTemplate, QLocale(c.locale)), c.pattern)
        << c.locale << " " << c.dateTemplate;
}

// The generator made ahead on a worker and asked from several threads at once gives every one
// of them the answer a single caller gets.
TEST(DatePatterns, APreparedGeneratorAnswersEveryThreadAlike) {
  const QLocale swedish("sv_SE");
  platform::prepareDatePatterns(swedish);
  std::vector<QString> answers(8);
  std::vector<std::thread> threads;
  for (size_t i = 0; i < answers.size(); ++i)
    threads.emplace_back([&, i] { answers[i] = platform::datePatternFromTemplate("MMMdd HHmm", swedish); });
  for (auto& thread : threads) thread.join();
  for (const QString& answer : answers) EXPECT_EQ(answer, platform::datePatternFromTemplate("MMMdd HHmm", swedish));
  EXPECT_FALSE(answers.front().isEmpty());
}

}  // namespace
