// The main window as the window tests build it: a program folder of its
// own, a media folder beside it (with the output folder the window
// converts into), the window created and its source list ready.
#pragma once

#include <gtest/gtest.h>

#include <QDir>
#include <QLineEdit>
#include <QString>

#include <memory>

#include "AppTestSupport.h"
#include "app/shell/MainForm.h"

namespace quorvel::test {

class TMainFormFixture : public ::testing::Test {
protected:
  void SetUp() override {
    ResetUserState();
    FProgram = MakeProgramFolder();
    FDir = QDir::cleanPath(FProgram + "../media");
    QDir(FDir).removeRecursively();
    QDir().mkpath(FDir + "/out");
    FForm = std::make_unique<TMainForm>(TAppServices{FProgram, {}, &FDesktop}, FSink);
    FForm->FormCreate();
    FForm->Ui().edDestinationFolder->setText(FDir + "/out");
    ASSERT_TRUE(FForm->PrepareSourceList()) << FSink.Log.join('\n').toStdString();
  }
  void TearDown() override { FForm.reset(); }

  QString FProgram;
  QString FDir;  // the media folder; FDir + "/out" is the output folder
  TRecordingSink FSink;
  TRecordingDesktop FDesktop;
  std::unique_ptr<TMainForm> FForm;
};

}  // namespace quorvel::test
