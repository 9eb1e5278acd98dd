#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QSettings>
#include <QWidget>

#include <filesystem>
#include <string>

#include "app/Settings.h"
#include "support/QtApplication.h"
#include "support/TestFiles.h"

namespace kdl {
namespace {

namespace fs = std::filesystem;

// The two stores as files of a scratch folder.
struct Stores {
  test::ScratchDir dir;
  fs::path userFile = dir / "user.conf";
  fs::path systemFile = dir / "system.conf";

  TSettings Load() {
    QSettings user(QString::fromStdString(userFile.string()), QSettings::IniFormat);
    QSettings system(QString::fromStdString(systemFile.string()), QSettings::IniFormat);
    return LoadSettings(user, system);
  }
  bool Save(const TSettings& s, const fs::path& file) {
    QSettings user(QString::fromStdString(file.string()), QSettings::IniFormat);
    return SaveSettings(user, s);
  }
};

void ExpectDefaults(const TSettings& s) {
  EXPECT_EQ(s.Left, 50);
  EXPECT_EQ(s.Top, 50);
  EXPECT_EQ(s.Width, 920);
  EXPECT_EQ(s.Height, 635);
  EXPECT_TRUE(s.RunWizardOnStartup);
  EXPECT_EQ(s.PreviousTemplateType, 0);
  EXPECT_EQ(s.PDFQualityType, 1);
}

TEST(Settings, FirstStartAndTheMachineWideLanguage) {
  Stores st;
  TSettings s = st.Load();
  ExpectDefaults(s);
  EXPECT_EQ(s.Language, "English");

  // An installer's file gives the language and nothing else.
  test::WriteFile(st.systemFile,
                  "[Settings]\nLanguage=German\nLeft=300\nRunWizardOnStartup=0\nPDFQualityType=2\n");
  s = st.Load();
  ExpectDefaults(s);
  EXPECT_EQ(s.Language, "German");

  // Once the user has settings, the machine's language no longer counts.
  test::WriteFile(st.userFile, "[Settings]\nLeft=10\n");
  s = st.Load();
  EXPECT_EQ(s.Left, 10);
  EXPECT_EQ(s.Language, "English");
}

TEST(Settings, WhatIsWrittenReadsBackAndPythonSeesIt) {
  test::EnsureApplication();
  Stores st;
  TSettings s;
  s.Left = -8;
  s.Top = 1200;
  s.Width = 1024;
  s.Height = 700;
  s.Language = "Deutsch, \"Süd\" 100% \\n";
  s.RunWizardOnStartup = false;
  s.PreviousTemplateType = 6;
  s.PDFQualityType = 0;
  ASSERT_TRUE(st.Save(s, st.userFile));
  const TSettings back = st.Load();
  EXPECT_EQ(back.Left, -8);
  EXPECT_EQ(back.Top, 1200);
  EXPECT_EQ(back.Width, 1024);
  EXPECT_EQ(back.Height, 700);
  EXPECT_EQ(back.Language, s.Language);
  EXPECT_FALSE(back.RunWizardOnStartup);
  EXPECT_EQ(back.PreviousTemplateType, 6);
  EXPECT_EQ(back.PDFQualityType, 0);

  test::WriteFile(st.dir / "read.py", R"(
import configparser, sys
p = configparser.ConfigParser(interpolation=None)
p.optionxform = str
p.read(sys.argv[1], encoding="utf-8")
print(p.sections(), sorted(p["Settings"].items()))
)");
  // Python reads the file as plain INI.
  s.Language = "German";
  ASSERT_TRUE(st.Save(s, st.userFile));
  EXPECT_EQ(test::RunCommand("python3 " + (st.dir / "read.py").string() + " " + st.userFile.string()),
            "['Settings'] [('Height', '700'), ('Language', 'German'), ('Left', '-8'), "
            "('PDFQualityType', '0'), ('PreviousTemplateType', '6'), "
            "('RunWizardOnStartup', '0'), ('Top', '1200'), ('Width', '1024')]\n");
}

TEST(Settings, MalformedAndOutOfRangeValuesTakeTheirDefaults) {
  Stores st;
  test::WriteFile(st.userFile,
                  "[Settings]\n"
                  "Left=12px\nTop=\nWidth=0x400\nHeight=99999999999\n"
                  "Language=a,b\nRunWizardOnStartup=yes\n"
                  "PreviousTemplateType=7\nPDFQualityType=-1\n");
  TSettings s = st.Load();
  ExpectDefaults(s);
  EXPECT_EQ(s.Language, "English");

  test::WriteFile(st.userFile,
                  "[Settings]\nPreviousTemplateType=255\nPDFQualityType=3\nRunWizardOnStartup=0\n"
                  "Left= 7 \n");
  s = st.Load();
  EXPECT_EQ(s.PreviousTemplateType, 0);
  EXPECT_EQ(s.PDFQualityType, 1);
  EXPECT_FALSE(s.RunWizardOnStartup);
  EXPECT_EQ(s.Left, 7);
}

TEST(Settings, AFailedSaveLeavesTheOldFile) {
  test::EnsureApplication();
  Stores st;
  // A path below a regular file cannot be created, even by root.
  const std::string old = "[Settings]\nLeft=1\n";
  test::WriteFile(st.dir / "blocker", old);
  EXPECT_FALSE(st.Save(TSettings(), st.dir / "blocker" / "user.conf"));
  EXPECT_EQ(test::ReadFile(st.dir / "blocker"), old);
  EXPECT_TRUE(fs::is_regular_file(st.dir / "blocker"));
}

TEST(Settings, StoresAreNamedByCompanyAndProduct) {
  test::EnsureApplication();
  test::ScratchDir dir;
  test::ScopedEnv home("XDG_CONFIG_HOME", dir.Path().string());
  const auto user = OpenUserSettings();
  const auto system = OpenSystemSettings();
  EXPECT_FALSE(user->fallbacksEnabled());
  EXPECT_FALSE(system->fallbacksEnabled());
  EXPECT_TRUE(user->fileName().endsWith("/Kestrune/Kestrune Disk Label.conf")) << user->fileName().toStdString();
  EXPECT_EQ(system->scope(), QSettings::SystemScope);
}

TEST(Settings, WindowGeometryRoundTripsWithoutCreeping) {
  test::EnsureApplication();
  QWidget w;
  w.setMinimumSize(200, 150);
  TSettings s;
  s.Left = 30;
  s.Top = 40;
  s.Width = 400;
  s.Height = 300;
  RestoreWindowGeometry(w, s);
  w.show();
  TSettings back;
  StoreWindowGeometry(w, back);
  EXPECT_EQ(back.Left, 30);
  EXPECT_EQ(back.Top, 40);
  EXPECT_EQ(back.Width, 400);
  EXPECT_EQ(back.Height, 300);

  // Far off every screen: back to 50, 50, with the stored size.
  s.Left = 40000;
  s.Top = -40000;
  RestoreWindowGeometry(w, s);
  EXPECT_EQ(w.frameGeometry().topLeft(), QPoint(50, 50));
  EXPECT_EQ(w.size(), QSize(400, 300));

  // Maximised, the normal geometry is what is kept.
  s.Left = 30;
  s.Top = 40;
  RestoreWindowGeometry(w, s);
  w.showMaximized();
  QCoreApplication::processEvents();
  ASSERT_TRUE(w.isMaximized());
  ASSERT_NE(w.size(), QSize(400, 300));
  StoreWindowGeometry(w, back);
  EXPECT_EQ(back.Left, 30);
  EXPECT_EQ(back.Top, 40);
  EXPECT_EQ(back.Width, 400);
  EXPECT_EQ(back.Height, 300);
}

}  // namespace
}  // namespace kdl
