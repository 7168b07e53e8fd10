// Windows command lines: splitting as the Microsoft C runtime splits them,
// and quoting one argument so that it comes back whole.
#include "platform/command_line.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace {

using Arguments = std::vector<std::string>;

std::string Quote(std::string_view argument) {
  std::string out(platform::QuotedRoom(argument.size()), '?');
  out.resize(platform::QuoteArgument(argument, out.data()));
  return out;
}

struct SplitCase {
  const char* name;
  std::string line;
  Arguments arguments;
};

TEST(SplitCommandLine, FollowsTheCRuntimeRules) {
  const SplitCase cases[] = {
      {"empty line gives an empty program name", "", {""}},
      {"program alone", "wget.exe", {"wget.exe"}},
      {"quoted program", "\"wget.exe\"  -O 1.zvd http://h/1.zvd",
       {"wget.exe", "-O", "1.zvd", "http://h/1.zvd"}},
      {"program name with a space in quotes",
       "\"C:\\Program Files\\w.exe\" a", {"C:\\Program Files\\w.exe", "a"}},
      {"program name keeps backslashes before a quote", "\"a\\\"b c",
       {"a\\b", "c"}},
      {"quotes in the middle of the program name", "w\"g et\".exe x",
       {"wg et.exe", "x"}},
      {"leading blank gives an empty program name", " a b", {"", "a", "b"}},
      {"tabs and runs of spaces separate", "p a\t\tb   c",
       {"p", "a", "b", "c"}},
      {"trailing blanks add nothing", "p a \t ", {"p", "a"}},
      {"quoted part keeps blanks", "p \"a b\tc\"", {"p", "a b\tc"}},
      {"quoted part inside a word", "p a\"b c\"d", {"p", "ab cd"}},
      {"empty quotes are an empty argument", "p \"\" x", {"p", "", "x"}},
      {"escaped quote", "p a\\\"b", {"p", "a\"b"}},
      {"even backslashes before a quote are halved, quote groups",
       "p a\\\\\"b c\"", {"p", "a\\b c"}},
      {"odd backslashes before a quote: halved and a literal quote",
       "p a\\\\\\\"b", {"p", "a\\\"b"}},
      {"backslashes before other bytes are plain", "p a\\\\b\\ c\\",
       {"p", "a\\\\b\\", "c\\"}},
      {"doubled quote inside quotes is a literal quote and stays quoted",
       "p \"a\"\"b c\" d", {"p", "a\"b c", "d"}},
      {"doubled quote outside quotes is an empty quoted part", "p a\"\"b",
       {"p", "ab"}},
      {"unclosed quote runs to the end", "p \"a b", {"p", "a b"}},
      {"zero byte ends the line", std::string("p a\0b c", 7), {"p", "a"}},
      {"newline is not a separator", "p a\nb", {"p", "a\nb"}},
      {"option-like words in quotes are one argument",
       "\"wget.exe\"  \"http://h/-O x --post-file=y\"",
       {"wget.exe", "http://h/-O x --post-file=y"}},
  };
  for (const SplitCase& c : cases) {
    EXPECT_EQ(platform::SplitCommandLine(c.line), c.arguments) << c.name;
  }
}

struct QuoteCase {
  const char* name;
  std::string argument;
  std::string quoted;
};

TEST(QuoteArgument, QuotesOnlyWhatNeedsIt) {
  const QuoteCase cases[] = {
      {"plain text stays", "http://127.0.0.1:8642/a.zip",
       "http://127.0.0.1:8642/a.zip"},
      {"backslashes alone stay", "a\\b\\", "a\\b\\"},
      {"empty argument", "", "\"\""},
      {"space", "a b", "\"a b\""},
      {"tab", "a\tb", "\"a\tb\""},
      {"quote is escaped", "a\"b", "\"a\\\"b\""},
      {"backslashes before a quote are doubled", "a\\\\\"b",
       "\"a\\\\\\\\\\\"b\""},
      {"trailing backslashes are doubled before the closing quote", "a b\\\\",
       "\"a b\\\\\\\\\""},
      {"backslashes inside stay single", "a\\b c", "\"a\\b c\""},
  };
  for (const QuoteCase& c : cases) {
    EXPECT_EQ(Quote(c.argument), c.quoted) << c.name;
  }
}

// Any byte string but one with a zero byte, quoted after a program name,
// is that one argument again.
void ExpectRoundTrip(const std::string& argument) {
  std::string quoted = Quote(argument);
  ASSERT_LE(quoted.size(), platform::QuotedRoom(argument.size()));
  Arguments split = platform::SplitCommandLine("\"wget.exe\"  " + quoted);
  ASSERT_EQ(split, (Arguments{"wget.exe", argument}))
      << "quoted as [" << quoted << "]";
}

TEST(QuoteArgument, RoundTripsEveryShortStringOfTheSpecialBytes) {
  const char alphabet[] = {'a', ' ', '\t', '"', '\\', '-'};
  for (std::size_t length = 0; length <= 6; ++length) {
    std::vector<std::size_t> digits(length, 0);
    for (;;) {
      std::string argument;
      for (std::size_t d : digits) argument += alphabet[d];
      ExpectRoundTrip(argument);
      std::size_t i = 0;
      while (i < length && ++digits[i] == sizeof alphabet) digits[i++] = 0;
      if (i == length) break;
    }
  }
}

TEST(QuoteArgument, RoundTripsRandomByteStrings) {
  std::mt19937 random(4);
  std::uniform_int_distribution<int> byte(1, 255);
  std::uniform_int_distribution<int> special(0, 3);
  std::uniform_int_distribution<std::size_t> size(0, 300);
  for (int n = 0; n < 2000; ++n) {
    std::string argument(size(random), 'x');
    for (char& c : argument) {
      // Half the bytes from the ones the rules care about.
      c = random() % 2 ? " \t\"\\"[special(random)] : static_cast<char>(byte(random));
    }
    ExpectRoundTrip(argument);
  }
}

}  // namespace
