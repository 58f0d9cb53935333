// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
// The option, PIN/delay, text and page-size helpers of pstoVarnel, in-process.
#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>

#include "common.h"
#include "copier.h"
#include "options.h"
#include "page_size.h"
#include "pin_print.h"
#include "pjl_text.h"
#include "test_support.h"

namespace {

class WithPpd : public testing::Test {
 protected:
  void UsePpd(const std::string& name) {
    setenv("PPD", varnel_test::SourcePath("tests/fixtures/ps/" + name).c_str(), 1);
  }
  void SetUp() override { UsePpd("generic.ppd"); }
  void TearDown() override {
    unsetenv("PPD");
    unsetenv("FINAL_CONTENT_TYPE");
  }
};

}  // namespace

TEST_F(WithPpd, PinPrintPresenceNoKeysAndDefaults) {
  struct Case {
    const char* ppd;
    std::string options;
    bool wanted;
    std::string pin;
  } cases[] = {
      {"generic.ppd", "LockedPinPrint PinNum1=1 PinNum2=2 PinNum3=3 PinNum4=4", true, "1234"},
      {"generic.ppd", "LockedPinPrint PinNum1=1 PinNum3=3", true, "1638"},  // 2 and 4 from the PPD
      {"generic.ppd", "LockedPinPrint PinNum1=98 PinNum2=7 PinNum3=6 PinNum4=5", true, "9765"},
      {"generic.ppd", "noLockedPinPrint LockedPinPrint=True", false, ""},
      {"generic.ppd", "Duplex=None", false, ""},            // PPD default False
      {"pin_default.ppd", "Duplex=None", true, "5678"},     // PPD default True, digits from the PPD
      {"pin_default.ppd", "noLockedPinPrint", false, ""},
  };
  for (const Case& c : cases) {
    UsePpd(c.ppd);
    std::string pin;
    EXPECT_EQ(ispinPrint(c.options.c_str(), pin), c.wanted) << c.options;
    EXPECT_EQ(pin, c.pin) << c.options;
  }
  std::string pin;
  EXPECT_FALSE(ispinPrint(nullptr, pin));
}

TEST(BooleanInText, ExplicitOffValuesAndTheNoPrefix) {
  struct Case {
    const char* text;
    OptionSwitch expected;
  } cases[] = {
      {"", OptionSwitch::kAbsent},
      {"PrintTimeH=22 Duplex=None", OptionSwitch::kAbsent},
      {"TimePrint", OptionSwitch::kOn},
      {"TimePrint=True", OptionSwitch::kOn},
      {"TimePrint=Yes", OptionSwitch::kOn},
      {"TimePrint=1", OptionSwitch::kOn},
      {"TimePrint=Falsely", OptionSwitch::kOn},  // the whole value decides
      {"noTimePrint", OptionSwitch::kOff},
      {"TimePrint=False", OptionSwitch::kOff},
      {"timeprint=FALSE PrintTimeH=22", OptionSwitch::kOff},
      {"Duplex=None TimePrint=No", OptionSwitch::kOff},
      {"TimePrint=off", OptionSwitch::kOff},
      {"TimePrint=0 PrintTimeM=5", OptionSwitch::kOff},
      {"TimePrint='False'", OptionSwitch::kOff},
      {"TimePrint=True TimePrint=Off", OptionSwitch::kOff},
  };
  for (const Case& c : cases) EXPECT_EQ(BooleanInText(c.text, "TimePrint"), c.expected) << c.text;
  EXPECT_EQ(BooleanInText("Collate=false", "Collate"), OptionSwitch::kOff);  // what cupsfilter sends
  EXPECT_EQ(BooleanInText(nullptr, "Collate"), OptionSwitch::kAbsent);
}

TEST_F(WithPpd, ExplicitOffValuesSwitchPinAndDelayOff) {
  for (const char* off : {"False", "no", "OFF", "0"}) {
    std::string pin, time;
    std::string options = std::string("LockedPinPrint=") + off + " PinNum1=1 PinNum2=2 PinNum3=3 PinNum4=4";
    EXPECT_FALSE(ispinPrint(options.c_str(), pin)) << options;
    options = std::string("TimePrint=") + off + " PrintTimeH=22 PrintTimeM=30";
    EXPECT_FALSE(isDelayPrint(options.c_str(), time)) << options;
    UsePpd("pin_default.ppd");  // secure printing on by default: an explicit off still wins
    EXPECT_FALSE(ispinPrint((std::string("LockedPinPrint=") + off).c_str(), pin)) << off;
    UsePpd("generic.ppd");
  }
  std::string pin;
  EXPECT_TRUE(ispinPrint("LockedPinPrint=True PinNum1=1 PinNum2=2 PinNum3=3 PinNum4=4", pin));
  EXPECT_EQ(pin, "1234");
}

TEST_F(WithPpd, JobPasswordIsThePin) {
  struct Case {
    const char* options;
    bool wanted;
    std::string pin;
  } cases[] = {
      {"job-password=2468", true, "2468"},
      {"noLockedPinPrint job-password=2468 PinNum1=1", true, "2468"},
      {"LockedPinPrint PinNum1=1 job-password=97", true, "97"},       // refused later: not four digits
      {"job-password= LockedPinPrint PinNum1=1", true, "1678"},      // empty: the PIN options decide
      {"job-password-encryption=none Duplex=None", false, ""},
      {"xjob-password=1111", false, ""},
  };
  for (const Case& c : cases) {
    std::string pin;
    EXPECT_EQ(ispinPrint(c.options, pin), c.wanted) << c.options;
    EXPECT_EQ(pin, c.pin) << c.options;
  }
}

TEST(MaskSecretOptions, HidesPinDigitsAndPasswords) {
  struct Case {
    const char* text;
    std::string masked;
  } cases[] = {
      {"LockedPinPrint PinNum1=1 PinNum2=2 Duplex=None", "LockedPinPrint PinNum1=**** PinNum2=**** Duplex=None"},
      {"job-password=2468 copies=2 pinnum4=9", "job-password=**** copies=2 pinnum4=****"},
      {"PinNum3='1 2' title=x", "PinNum3=**** title=x"},
      {"document-password=a\\ b next=1", "document-password=**** next=1"},
      {"PinNum1 Duplex=None  job-password=", "PinNum1 Duplex=None  job-password="},
      {"", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(MaskSecretOptions(c.text), c.masked) << c.text;
}

TEST(DelayTime, OnlyTimesOfTheDay) {
  for (const char* good : {"0:0", "23:59", "7:15", "5:", "09:05"}) EXPECT_TRUE(isValidDelayTime(good)) << good;
  for (const char* bad : {"24:00", "12:60", "99999999:0", "-1:5", "a:5", "12:5x", "4294967296:1"})
    EXPECT_FALSE(isValidDelayTime(bad)) << bad;
}

TEST(PinCheck, OnlyFourDigitsAreAPin) {
  for (const char* good : {"1234", "0000"}) EXPECT_TRUE(isValidPin(good)) << good;
  for (const char* bad : {"", "123", "12345", "12a4", "12\"4", "1\n34"}) EXPECT_FALSE(isValidPin(bad)) << bad;
}

TEST_F(WithPpd, DelayPrintTimeText) {
  struct Case {
    std::string options;
    bool wanted;
    std::string time;
  } cases[] = {
      {"TimePrint PrintTimeH=22 PrintTimeM=30", true, "22:30"},
      {"TimePrint PrintTimeM=30", true, "7:30"},
      {"TimePrint", true, "7:15"},
      {"noTimePrint PrintTimeH=22", false, ""},
      {"PrintTimeH=22", false, ""},  // PPD default False
  };
  for (const Case& c : cases) {
    std::string time;
    EXPECT_EQ(isDelayPrint(c.options.c_str(), time), c.wanted) << c.options;
    EXPECT_EQ(time, c.time) << c.options;
  }
}

TEST(GetMinutes, HourTimesSixtyPlusMinute) {
  struct Case {
    const char* text;
    std::string minutes;
  } cases[] = {{"22:30", "1350"}, {"5:", "305"}, {"0:0", "0"}, {"7:15", "435"}, {"1:2:3", "63"}};
  for (const Case& c : cases) {
    std::string minutes;
    EXPECT_TRUE(GetMinutes(c.text, minutes)) << c.text;
    EXPECT_EQ(minutes, c.minutes) << c.text;
  }
  std::string minutes;
  EXPECT_FALSE(GetMinutes(nullptr, minutes));
}

TEST_F(WithPpd, PpdDefaultsAndDuplexQuery) {
  std::string value;
  GetSelectOption("PrintTimeM", value);
  EXPECT_EQ(value, "15");
  std::string missing = "unchanged";
  GetSelectOption("NoSuchOption", missing);
  EXPECT_EQ(missing, "unchanged");
  struct Case {
    const char* options;
    int result;
  } cases[] = {{"Duplex=None", 0},         {"Duplex=DuplexNoTumble", 1}, {"duplex=duplextumble", 2},
               {"Duplex=Other", 3},        {"Collate", -1}};
  for (const Case& c : cases) {
    std::string scratch;
    EXPECT_EQ(isDuplexPrint(c.options, scratch), c.result) << c.options;
  }
  unsetenv("PPD");
  std::string scratch;
  EXPECT_EQ(isDuplexPrint("Duplex=None", scratch), -1);  // without a PPD every option is absent
}

TEST(DestinationMatch, LastPathSegmentEqualsTheQueueName) {
  struct Case {
    const char* uri;
    const char* queue;
    bool match;
  } cases[] = {
      {"ipp://localhost/printers/Office", "office", true},
      {"ipp://localhost/printers/OFFICE", "Office", true},
      {"ipp://localhost/printers/Office%20Two", "office two", true},
      {"ipp://localhost/printers/Office%2a", "office*", true},
      {"ipp://localhost/printers/Office2", "office", false},
      {"office", "office", false},
      {"ipp://localhost/printers/", "office", false},
  };
  for (const Case& c : cases) EXPECT_EQ(isDestinationOfQueue(c.uri, c.queue), c.match) << c.uri;
}

TEST(TextHelpers, GetsubtextCutsInCharacters) {
  ASSERT_NE(setlocale(LC_ALL, "C.UTF-8"), nullptr);
  std::string name;
  for (int i = 0; i < 30; ++i) name += "\xc3\xa9";  // 30 times e-acute, 60 bytes
  std::string out;
  Getsubtext(out, 20, name.c_str());
  EXPECT_EQ(out, name.substr(20));  // the last 20 characters, 40 bytes
  Getsubtext(out, 63, "vnhost");
  EXPECT_EQ(out, "vnhost");
  std::string invalid = std::string(60, 'a') + "\xff";
  Getsubtext(out, 20, invalid.c_str());
  EXPECT_EQ(out, invalid.substr(invalid.size() - 48));  // conversion fails: last 48 bytes
  setlocale(LC_ALL, "C");
  char lowered[8] = {0};
  strToLower("AbC", lowered);
  EXPECT_STREQ(lowered, "abc");
}

TEST(TextHelpers, PjlValuesAndNumbers) {
  EXPECT_EQ(QuotedPjlValue("a\"b\r\nc\x01\x7f\xc3\xa9"), "abc\xc3\xa9");
  struct Case {
    const char* text;
    int copies;
  } cases[] = {{"3", 3}, {"0", 1}, {"-2", 1}, {"abc", 1}, {"", 1}, {"12\n@PJL", 12}, {"99999999999", 1}};
  for (const Case& c : cases) EXPECT_EQ(ParseCopyCount(c.text), c.copies) << c.text;
  EXPECT_EQ(ParseJobId("42"), 42);
  EXPECT_EQ(ParseJobId("x"), 0);
}

TEST_F(WithPpd, PageSizeProbes) {
  varnel_test::TempDir dir;
  std::string pdf = dir.File("job.pdf");
  varnel_test::WriteFile(pdf, "%PDF-1.4\n<< /Type /Page /MediaBox [0 0 842 595] >> /Rotate 270\n");
  float llx = -1, lly = -1, urx = -1, ury = -1;
  EXPECT_EQ(Getmediasize(pdf.c_str(), &llx, &lly, &urx, &ury), 0);  // not a PDF job
  setenv("FINAL_CONTENT_TYPE", "application/PDF", 1);
  varnel_test::WriteFile(pdf, "%PDF-1.4\n/MediaBox [0 0 842 595]>> /Rotate 270\n");
  EXPECT_EQ(Getmediasize(pdf.c_str(), &llx, &lly, &urx, &ury), 1);
  EXPECT_FLOAT_EQ(urx - llx, 595);
  EXPECT_FLOAT_EQ(ury - lly, 842);
  unsetenv("FINAL_CONTENT_TYPE");

  UsePpd("qd3840.ppd");
  struct Case {
    std::string options, document;
    bool a5;
  } cases[] = {
      {"PageSize=A5", "", true},
      {"PageSize=A5 FeedEdge=ShortEdge", "", false},
      {"PageSize=A4", "", false},
      {"", "<</Type/Page/MediaBox [0 0 421 594]>>\n", true},
      {"", "421 594 pdfSetupPaper\n", true},
      {"", "/pdfSetupPaper {} def\n612 792 pdfSetupPaper\n", false},
  };
  std::string ps = dir.File("job.ps");
  for (const Case& c : cases) {
    varnel_test::WriteFile(ps, "%!PS\n" + c.document);
    EXPECT_EQ(isA5PageSize(c.options.c_str(), ps.c_str()), c.a5) << c.options << c.document;
  }
}

TEST(FixPrnPageSize, SixRules) {
  struct Case {
    std::string in;
    bool collate;
    std::string out;
  } cases[] = {
      {"<</type/page/mediabox [0 0 1 2]>>\n", false, "<</Type/Page/MediaBox [0 0 612 792]\n"},
      {"/pdfSetupPaper { } def\n", false, "/pdfSetupPaper { } def\n"},
      {"1 2 pdfSetupPaper\n", false, "612 792 pdfSetupPaper\n"},
      {"%RBIBeginNonPPDFeature: *NumCopies 2\n", true, ""},
      {"%RBIBeginNonPPDFeature: *NumCopies 2\n", false, "%RBIBeginNonPPDFeature: *NumCopies 2\n"},
      {"<<DeferredMediaSelection true>>setpagedevice\n", false, "<</DeferredMediaSelection true>>setpagedevice\n"},
      {"<<DeferredMediaSelection true>>\n", false, "<<DeferredMediaSelection true>>\n"},
  };
  for (const Case& c : cases) {
    iscollate = c.collate;
    unsigned char state = 0;
    std::string line = c.in;
    FixPrnPageSize(line, 612, 792, &state);
    EXPECT_EQ(line, c.out) << c.in;
  }
  iscollate = true;
  unsigned char state = 0;
  std::string lines[] = {"%RBIBeginNonPPDFeature: *NumCopies 2\n", "/NumCopies 2 def\n", "%RBIEndNonPPDFeature\n",
                         "kept\n"};
  std::string joined;
  for (std::string& line : lines) {
    FixPrnPageSize(line, 612, 792, &state);
    joined += line;
  }
  EXPECT_EQ(joined, "kept\n");
  std::string unsized = "1 2 pdfSetupPaper\n";
  FixPrnPageSize(unsized, 0, 0, &state);
  EXPECT_EQ(unsized, "1 2 pdfSetupPaper\n");
  iscollate = false;
}
