// The window's "Loudness" choice, used with the mouse and the keyboard:
// normalising replaces the volume (which the window shows), each converted
// row tells what its output measured (tooltip and log), the outputs reach
// the typed target, and the choice comes back at the next start.
#include <gtest/gtest.h>

#include <QAbstractItemView>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QSpinBox>
#include <QTableWidget>
#include <QTest>

#include "MainFormFixture.h"
#include "app/conversion/BatchConversion.h"
#include "app/conversion/LoudnessChoice.h"
#include "app/shell/MainFormUi.h"
#include "app/sources/SourceList.h"
#include "media/batch/LoudnessAnalysis.h"
#include "support/TestPaths.h"

namespace quorvel {
namespace {

class LoudnessWindowTest : public test::TMainFormFixture {
protected:
  // Opens the list of ABox with a click and takes the item AText with the
  // arrow keys and Enter (the list ignores a release that comes right after
  // it opened, as a click does here).
  static void ChooseItem(QComboBox* ABox, const QString& AText) {
    QTest::mouseClick(ABox, Qt::LeftButton);
    QAbstractItemView* view = ABox->view();
    QTRY_VERIFY_WITH_TIMEOUT(view->isVisible(), 10000);
    const int i = ABox->findText(AText);
    ASSERT_GE(i, 0) << AText.toStdString();
    QTest::keyClick(view, Qt::Key_Home);
    for (int k = 0; k < i; ++k) QTest::keyClick(view, Qt::Key_Down);
    QTest::keyClick(view, Qt::Key_Return);
    QTRY_VERIFY_WITH_TIMEOUT(!view->isVisible(), 10000);
  }
  void Drop(const QStringList& APaths) { ASSERT_TRUE(test::DropFiles(FForm.get(), APaths)); }
  QString Tone(const QString& AName, double AGainDb) {
    return test::MakeSine(FDir + "/" + AName, 6, QString("gain %1").arg(AGainDb), 1000);
  }
};

TEST_F(LoudnessWindowTest, NormalisingReplacesTheVolumeAndEachRowTellsWhatItMeasured) {
  FForm->show();
  TLoudnessChoice& choice = *FForm->Ui().loudness;
  QSpinBox& volume = *FForm->Ui().edVolume;
  EXPECT_EQ(choice.Mode()->currentText(), "Off");
  EXPECT_TRUE(volume.isEnabled());
  EXPECT_FALSE(choice.Target()->isEnabled());
  EXPECT_FALSE(choice.Note()->isVisible());

  // Half the volume, then normalising: the volume no longer counts.
  volume.setValue(50);
  ChooseItem(choice.Mode(), "Normalise to");
  EXPECT_FALSE(volume.isEnabled());
  EXPECT_TRUE(choice.Note()->isVisible());
  EXPECT_EQ(choice.Note()->text(), "replaces the volume");
  EXPECT_EQ(volume.toolTip(), "Normalising replaces the volume");
  EXPECT_TRUE(choice.Target()->isEnabled());
  // The presets, and a value typed over them.
  for (const char* preset : {"-14", "-16", "-18", "-23"}) EXPECT_GE(choice.Target()->findText(preset), 0) << preset;
  QLineEdit* typed = choice.Target()->lineEdit();
  QTest::mouseClick(typed, Qt::LeftButton);
  typed->selectAll();
  QTest::keyClicks(typed, "-16");
  QTest::keyClick(typed, Qt::Key_Return);
  EXPECT_EQ(choice.Target()->currentText(), "-16");

  const QString quiet = Tone("quiet.wav", -35), loud = Tone("loud.wav", -8);
  Drop({quiet, loud});
  ASSERT_EQ(FForm->SourceList().RowCount(), 2);
  FForm->Conversion().ConvertButtonClick();  // returns when the dialog closes

  TSourceList& list = FForm->SourceList();
  for (int r = 0; r < 2; ++r) {
    const QString name = list.Rows().At(r).SourceTitleExt;
    SCOPED_TRACE(name.toStdString());
    const QString status = list.Grid()->item(r, 4)->text(), tip = list.Grid()->item(r, 4)->toolTip();
    EXPECT_EQ(status, "done");
    EXPECT_TRUE(tip.contains(" LUFS, LRA ") && (tip.contains("gain +") || tip.contains("gain -"))) << tip.toStdString();
    EXPECT_TRUE(FSink.Log.contains("[t]-> " + name + ": " + tip)) << FSink.Log.join('\n').toStdString();
    const QString output = FDir + "/out/" + QFileInfo(name).completeBaseName() + ".mp3";
    const TLoudnessAnalysis a = AnalyseLoudness(output.toStdString());
    ASSERT_TRUE(a.Meter) << a.Error;
    // -16 whatever the volume said; MP3 keeps the true peak under -0.5 dBTP.
    EXPECT_NEAR(a.Meter->Result().Integrated, -16, 0.5);
    EXPECT_LE(a.Meter->Result().TruePeak, -0.5);
  }

  // The album switch, clicked; the choice is stored and read at the next start.
  QTest::mouseClick(choice.Album(), Qt::LeftButton, {}, QPoint(6, choice.Album()->height() / 2));
  EXPECT_TRUE(choice.Album()->isChecked());
  FForm->close();
  FForm.reset();
  auto next = std::make_unique<TMainForm>(TAppServices{FProgram, {}, &FDesktop}, FSink);
  next->FormCreate();
  TLoudnessChoice& restored = *next->Ui().loudness;
  EXPECT_EQ(restored.Mode()->currentText(), "Normalise to");
  EXPECT_EQ(restored.Target()->currentText(), "-16");
  EXPECT_TRUE(restored.Album()->isChecked());
  EXPECT_FALSE(next->Ui().edVolume->isEnabled());
  const TBatchLoudness value = restored.Value();
  EXPECT_EQ(value.Action, TLoudnessAction::Normalise);
  EXPECT_EQ(value.TargetLufs, -16);
  EXPECT_TRUE(value.Album);
}

}  // namespace
}  // namespace quorvel
