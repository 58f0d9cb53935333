// Copyright (C) 2026 The Varnel driver authors
// SPDX-License-Identifier: GPL-2.0-or-later
// The generated PPDs speak German, French, Spanish and Simplified Chinese: the option texts that
// print dialogs show, and the manual-duplex instruction that the raster filter writes to the
// CUPS log, follow the user's language (LANG, which CUPS sets for a job's filters from the job's
// language). The texts that the raster filter reads as keywords stay the same in every language.
#include <cups/ppd.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cups_support.h"
#include "test_support.h"

namespace varnel_test {
namespace {

struct PpdCloser {
  void operator()(ppd_file_t* ppd) const { ppdClose(ppd); }
};
using PpdPointer = std::unique_ptr<ppd_file_t, PpdCloser>;

// Sets the language variables as CUPS does for a job (LC_ALL and LC_MESSAGES would win over
// LANG), and puts the test's own back afterwards.
class Language {
 public:
  explicit Language(const std::string& locale) {
    for (const char* name : kNames) {
      const char* value = getenv(name);
      saved_[name] = value ? std::optional<std::string>(value) : std::nullopt;
      setenv(name, locale.c_str(), 1);
    }
  }
  ~Language() {
    for (const auto& entry : saved_)
      entry.second ? setenv(entry.first.c_str(), entry.second->c_str(), 1) : unsetenv(entry.first.c_str());
  }
  static std::vector<std::string> Environment(const std::string& locale) {
    std::vector<std::string> env;
    for (const char* name : kNames) env.push_back(std::string(name) + "=" + locale);
    return env;
  }

 private:
  static constexpr const char* kNames[] = {"LANG", "LC_ALL", "LC_MESSAGES"};
  std::map<std::string, std::optional<std::string>> saved_;
};

// The texts of a PPD as a print dialog shows them in the current language.
struct Texts {
  std::map<std::string, std::string> options;  // option keyword -> text
  std::map<std::string, std::string> choices;  // "option choice" -> text
  std::map<std::string, std::string> reasons;  // cupsIPPReason keyword -> text
};

Texts Localized(const std::string& file, const std::string& locale) {
  Language language(locale);
  Texts texts;
  PpdPointer ppd(ppdOpenFile(PpdPath(file).c_str()));
  if (!ppd) return texts;
  ppdLocalize(ppd.get());
  for (int g = 0; g < ppd->num_groups; ++g)
    for (int o = 0; o < ppd->groups[g].num_options; ++o) {
      const ppd_option_t& option = ppd->groups[g].options[o];
      texts.options[option.keyword] = option.text;
      for (int c = 0; c < option.num_choices; ++c)
        texts.choices[std::string(option.keyword) + " " + option.choices[c].choice] = option.choices[c].text;
    }
  for (const char* reason : {"MDuplex", "PlatForm", "SupportManualDuplex"}) {
    char text[1024] = "";
    if (ppdLocalizeIPPReason(ppd.get(), reason, nullptr, text, sizeof text)) texts.reasons[reason] = text;
  }
  return texts;
}

struct Translation {
  const char* locale;
  const char* density;        // the option text of Density
  const char* darkest;        // its choice 4
  const char* media_size;     // the option text of PageSize
  const char* secure_print;   // LockedPinPrint of the PostScript models
  const char* turn_over;      // the manual-duplex instruction
};

void PrintTo(const Translation& t, std::ostream* out) { *out << t.locale; }

const Translation kTranslations[] = {
    {"de_DE.UTF-8", "Druckdichte", "Sehr dunkel", "Papierformat", "Vertraulicher Druck (PIN)",
     "Drehen Sie die bedruckten Seiten um und legen Sie sie wieder ins Papierfach."},
    {"fr_FR.UTF-8", "Densité d'impression", "Très foncé", "Format du papier", "Impression sécurisée (PIN)",
     "Retournez les pages imprimées et remettez-les dans le bac d'alimentation."},
    {"es_ES.UTF-8", "Densidad de impresión", "Muy oscura", "Tamaño del papel", "Impresión segura (PIN)",
     "Dé la vuelta a las páginas impresas y colóquelas de nuevo en la bandeja."},
    {"zh_CN.UTF-8", "打印浓度", "最深", "纸张尺寸", "安全打印（PIN）", "请将已打印的纸张翻面，然后放回进纸盒。"},
};

class TranslatedPpd : public ::testing::TestWithParam<Translation> {};

TEST_P(TranslatedPpd, OptionTextsAndTheTurnOverInstructionFollowLang) {
  const Translation& t = GetParam();
  Texts raster = Localized("q7106mf.ppd", t.locale);
  EXPECT_EQ(raster.options["Density"], t.density);
  EXPECT_EQ(raster.choices["Density 4"], t.darkest);
  EXPECT_EQ(raster.options["PageSize"], t.media_size);
  EXPECT_EQ(raster.reasons["MDuplex"], t.turn_over);
  EXPECT_EQ(Localized("prlp8400.ppd", t.locale).options["LockedPinPrint"], t.secure_print);
}

// Every option of every model has its own text in the language, and the filter's keywords
// (platform, manual duplex support) read the same as in English.
TEST_P(TranslatedPpd, EveryOptionIsTranslatedAndTheFilterKeywordsAreNot) {
  const Translation& t = GetParam();
  for (const auto& file : ListFiles(PpdPath(""))) {
    SCOPED_TRACE(file);
    Texts english = Localized(file, "C"), translated = Localized(file, t.locale);
    ASSERT_FALSE(english.options.empty());
    for (const auto& option : english.options) {
      if (option.first == "PageRegion") continue;  // never shown: dialogs offer PageSize
      EXPECT_NE(translated.options[option.first], option.second) << option.first << " is not translated";
    }
    for (const char* keyword : {"PlatForm", "SupportManualDuplex"})
      EXPECT_EQ(translated.reasons[keyword], english.reasons[keyword]) << keyword;
    if (english.reasons.count("MDuplex")) {
      EXPECT_EQ(translated.reasons["MDuplex"], t.turn_over);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(FourLanguages, TranslatedPpd, ::testing::ValuesIn(kTranslations),
                         [](const ::testing::TestParamInfo<Translation>& info) {
                           return SafeTestName(info.param.locale);
                         });

// The raster filter itself, started by the CUPS chain in the job's language, shows the
// instruction when the stack must be turned over. (A manual-duplex job waits 10 s at its end,
// so a language of Latin and one of Chinese script stand for all.)
class TranslatedFilterLog : public ::testing::TestWithParam<Translation> {};

TEST_P(TranslatedFilterLog, RasterFilterWritesTheInstructionInTheJobsLanguage) {
  TempDir dir;
  ChainJob job;
  job.ppd = "q7106mf.ppd";  // a duplex job is printed as manual duplex on this model
  job.input = MakeTestPdf(dir, 2);
  ASSERT_FALSE(job.input.empty());
  job.options = {"Duplex=DuplexNoTumble"};
  job.env = Language::Environment(GetParam().locale);
  CupsfilterChain chain;
  ProcessResult printed = chain.Run(job);
  ASSERT_EQ(printed.exit_status, 0) << printed.err;
  EXPECT_NE(printed.err.find(std::string("INFO:") + GetParam().turn_over + "\n"), std::string::npos) << printed.err;
}

INSTANTIATE_TEST_SUITE_P(GermanAndChinese, TranslatedFilterLog, ::testing::Values(kTranslations[0], kTranslations[3]),
                         [](const ::testing::TestParamInfo<Translation>& info) {
                           return SafeTestName(info.param.locale);
                         });

}  // namespace
}  // namespace varnel_test
