// The profile set: reading the complemented file, the line grammar and the
// choice lists, and the profile choices' handlers.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QFile>
#include <QTableWidget>
#include <QWidget>

#include "AppTestSupport.h"
#include "profiles/Decryptor.h"
#include "profiles/Profile.h"
#include "app/conversion/ProfilePanel.h"
#include "app/sources/SourceList.h"
#include "app/shell/Widgets.h"
#include "media/runtime/Exception.h"
#include "support/TestPaths.h"

namespace quorvel {
namespace {

TProfiles ParseText(const QByteArray& AText) {
  TProfiles profiles;
  ParseProfiles(BytesToLines(AText), profiles);
  return profiles;
}

TEST(DecryptorTest, ReadsTheComplementedFileWithEveryLineEnding) {
  const QString path = QString::fromStdString(test::ScratchDir()) + "/formats.dat";
  QFile f(path);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  f.write(ComplementBytes("one\r\ntwo\rthree\nfour"));
  f.close();
  EXPECT_EQ(LoadProfileFile(path), (QStringList{"one", "two", "three", "four"}));
}

TEST(DecryptorTest, AMissingFileIsAnError) {
  EXPECT_THROW(LoadProfileFile(QString::fromStdString(test::ScratchDir()) + "/none.dat"), Exception);
}

TEST(DecryptorTest, ByteOrderMarksChooseTheEncodingAndAreDropped) {
  const QString title = QStringLiteral("Mus\u00EEque \u266B");
  QByteArray utf16le("\xFF\xFE", 2), utf16be("\xFE\xFF", 2);
  for (QChar c : title) {
    utf16le.append(static_cast<char>(c.unicode() & 0xFF)).append(static_cast<char>(c.unicode() >> 8));
    utf16be.append(static_cast<char>(c.unicode() >> 8)).append(static_cast<char>(c.unicode() & 0xFF));
  }
  EXPECT_EQ(BytesToLines("\xEF\xBB\xBF" + title.toUtf8()), QStringList{title});
  EXPECT_EQ(BytesToLines(utf16le), QStringList{title});
  EXPECT_EQ(BytesToLines(utf16be), QStringList{title});
  // Without a mark the locale's encoding applies (UTF-8 here, or C's ASCII).
  EXPECT_EQ(BytesToLines("plain"), QStringList{"plain"});
}

TEST(ProfileGrammarTest, KeyAndValueOfALine) {
  struct TCase {
    const char* Line;
    const char* Key;
    const char* Value;
  };
  const TCase cases[] = {
      {"<audiobitrate value=\"128000\" />", "audiobitrate", "128000"},
      {"<audiobitrate junk \"64000\" more \"x\"", "audiobitrate", "64000"},
      {"<samplerate value=\"44100", "samplerate", ""},
      {"<channel>", "", ""},
      {"no key \"v\"", "", "v"},
      {"<  \"v\"", "", "v"},
      {"x<Key  \"a b\"", "Key", "a b"},
  };
  for (const TCase& c : cases) {
    QString key = "stale", value = "stale";
    ParseProfileLine(QString::fromLatin1(c.Line), key, value);
    EXPECT_EQ(key, QString::fromLatin1(c.Key)) << c.Line;
    EXPECT_EQ(value, QString::fromLatin1(c.Value)) << c.Line;
  }
}

TEST(ProfileGrammarTest, EdgeCasesOfTheFile) {
  struct TCase {
    const char* Name;
    const char* Text;
    std::vector<std::pair<const char*, const char*>> Profiles;  // title, bit rate
  };
  const TCase cases[] = {
      {"keys ignore letter case, lines are trimmed",
       "<ProfileSet>\r\n \t<Profile>\t\r\n  <PROFILENAME v=\"A\" />\x01\r\n<AudioBitRate v=\"96000\"/>\r\n",
       {{"A", "96000"}}},
      {"the end of the set stops reading",
       "<Profile>\n<profilename v=\"A\"/>\n</ProfileSet>\n<Profile>\n<profilename v=\"B\"/>\n",
       {{"A", ""}}},
      {"a lower-case profile start is an ignored line",
       "<Profile>\n<profilename v=\"A\"/>\n<profile>\n<profilename v=\"B\"/>\n",
       {{"B", ""}}},
      {"one quote only stores an empty value",
       "<Profile>\n<profilename v=\"A\"/>\n<profilename v=\"B\n",
       {{"", ""}}},
      {"unknown keys and lines without a key change nothing",
       "<ProfileSet>\n<!-- a note -->\n<Profile>\n<colour v=\"red\"/>\n<audiobitrate>\n<audiobitrate v=\"1\"/>\n",
       {{"", "1"}}},
  };
  for (const TCase& c : cases) {
    const TProfiles profiles = ParseText(c.Text);
    ASSERT_EQ(profiles.size(), c.Profiles.size()) << c.Name;
    for (size_t i = 0; i < profiles.size(); ++i) {
      EXPECT_EQ(profiles[i].Title, QString::fromLatin1(c.Profiles[i].first)) << c.Name;
      EXPECT_EQ(profiles[i].AudioBitRate, QString::fromLatin1(c.Profiles[i].second)) << c.Name;
      EXPECT_EQ(profiles[i].StandardAudioBitRate, profiles[i].AudioBitRate) << c.Name;
    }
  }
}

TEST(ProfileGrammarTest, AKnownKeyBeforeTheFirstProfileFailsTheLoad) {
  TProfiles profiles;
  EXPECT_THROW(ParseProfiles(BytesToLines("<ProfileSet>\n<profilename v=\"early\"/>\n<Profile>\n"), profiles),
               Exception);
  // An unknown key there is only an ignored line.
  EXPECT_NO_THROW(ParseText("<ProfileSet>\n<comment v=\"x\"/>\n<Profile>\n"));
}

TEST(ProfileGrammarTest, EveryFieldHasItsKey) {
  const TProfiles p = ParseText(
      "<Profile>\n<profilename v=\"T\"/>\n<formatext v=\".x\"/>\n<description v=\"D\"/>\n"
      "<audiobitrates v=\"1$a\"/>\n<samplerates v=\"2$b\"/>\n<channels v=\"3$c\"/>\n<audiocodecs v=\"4$d\"/>\n"
      "<audiocodecname v=\"4\"/>\n<samplerate v=\"2\"/>\n<audiobitrate v=\"1\"/>\n<channel v=\"3\"/>\n"
      "<extraparam v=\"E\"/>\n");
  ASSERT_EQ(p.size(), 1u);
  const QStringList got = {p[0].Title,       p[0].FormatExt,      p[0].Description, p[0].AudioBitRates,
                           p[0].SampleRates, p[0].Channels,       p[0].AudioCodecs, p[0].AudioCodecName,
                           p[0].SampleRate,  p[0].AudioBitRate,   p[0].Channel,     p[0].ExtraParam,
                           p[0].StandardAudioBitRate};
  EXPECT_EQ(got, (QStringList{"T", ".x", "D", "1$a", "2$b", "3$c", "4$d", "4", "2", "1", "3", "E", "1"}));
}

TEST(ChoiceListTest, SplitsValuesAndCaptions) {
  struct TCase {
    const char* List;
    QStringList Values;
    QStringList Captions;
  };
  const TCase cases[] = {
      {"1$Mono,2$Stereo", {"1", "2"}, {"Mono", "Stereo"}},
      {" 1 $ Mono ", {" 1 "}, {" Mono "}},
      {"Mono,Stereo", {}, {"Mono", "Stereo"}},
      {"", {}, {}},
      {"1$", {"1"}, {""}},
  };
  for (const TCase& c : cases) {
    EXPECT_EQ(SplitChoiceList(c.List, true), c.Values) << c.List;
    EXPECT_EQ(SplitChoiceList(c.List, false), c.Captions) << c.List;
  }
}

TEST(ShippedProfileSetTest, EveryProfileIsCompleteAndConsistent) {
  TProfiles profiles;
  ParseProfiles(LoadProfileFile(test::BuiltProgramFolder() + "mp3-converter-profiles/formats.dat"), profiles);
  ASSERT_GE(profiles.size(), 12u);
  QStringList codecs;
  for (const TProfile& p : profiles) {
    SCOPED_TRACE(p.Title.toStdString());
    EXPECT_FALSE(p.Title.isEmpty());
    EXPECT_TRUE(p.FormatExt.startsWith('.'));
    EXPECT_GE(ChoiceValueIndex(p.AudioBitRates, p.AudioBitRate), 0);
    EXPECT_GE(ChoiceValueIndex(p.SampleRates, p.SampleRate), 0);
    EXPECT_GE(ChoiceValueIndex(p.Channels, p.Channel), 0);
    EXPECT_GE(ChoiceValueIndex(p.AudioCodecs, p.AudioCodecName), 0);
    for (const QString& list : {p.AudioBitRates, p.SampleRates, p.Channels, p.AudioCodecs})
      EXPECT_EQ(SplitChoiceList(list, true).size(), SplitChoiceList(list, false).size());
    codecs << SplitChoiceList(p.AudioCodecs, true);
    // Every profile can keep the source's rate and channels ("0": Original);
    // the lossless ones do unless told otherwise.
    EXPECT_GE(ChoiceValueIndex(p.SampleRates, "0"), 0);
    EXPECT_GE(ChoiceValueIndex(p.Channels, "0"), 0);
    const bool lossless = QStringList{"flac", "alac", "original"}.contains(p.AudioCodecName);
    EXPECT_EQ(p.SampleRate == "0" && p.Channel == "0", lossless);
  }
  for (const char* c : {"libmp3lame", "aac", "libvorbis", "libopus", "flac", "alac", "pcm_s16le", "pcm_s16be",
                        "pcm_s24le", "pcm_s24be", "original", "wmav2", "ac3", "mp2"})
    EXPECT_TRUE(codecs.contains(c)) << c;
}

// The size estimate of "Original" uses the source's values: exact for PCM,
// the profile's figure scaled for another lossless codec, the bit rate for
// a lossy one.
TEST(ProfileOutputBitRateTest, OriginalUsesTheSourcesValues) {
  const auto profile = [](const char* ACodec, const char* ABitRate, const char* ARate, const char* AChannels) {
    TProfile p;
    p.AudioCodecName = ACodec;
    p.AudioBitRate = ABitRate;
    p.SampleRate = ARate;
    p.Channel = AChannels;
    return p;
  };
  const TSourceAudio hiRes{96000, 2, 24}, cd{44100, 2, 16}, unknown{};
  const struct {
    TProfile Profile;
    TSourceAudio Source;
    double BitRate;
  } cases[] = {
      {profile("original", "1411200", "0", "0"), hiRes, 96000.0 * 2 * 24},
      {profile("original", "1411200", "0", "0"), unknown, 1411200},
      {profile("pcm_s16le", "1411200", "0", "0"), hiRes, 96000.0 * 2 * 16},
      {profile("pcm_s24be", "1411200", "48000", "1"), cd, 48000.0 * 24},
      {profile("flac", "700000", "0", "0"), hiRes, 700000.0 * 96000 * 2 * 24 / (44100.0 * 2 * 16)},
      {profile("flac", "700000", "0", "0"), cd, 700000},
      {profile("libmp3lame", "192000", "0", "0"), hiRes, 192000},
      {profile("libmp3lame", "fast", "0", "0"), hiRes, -1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Profile.AudioCodecName.toStdString());
    EXPECT_NEAR(ProfileOutputBitRate(c.Profile, c.Source), c.BitRate, 0.5);
  }
}

// The choices on a small set of two profiles with a list of rows.
class ProfileChoicesTest : public ::testing::Test {
protected:
  void SetUp() override {
    FList = std::make_unique<TSourceList>(&FParent);
    FPanel = std::make_unique<TProfilePanel>(*FList, FSink, &FParent);
    FList->SetProfiles(&FPanel->Profiles());
    ParseProfiles(BytesToLines("<Profile>\n<profilename v=\"MP3\"/>\n"
                               "<audiobitrates v=\"64000$64,128000$128,192000$192,320000$320\"/>\n"
                               "<audiobitrate v=\"128000\"/>\n<samplerates v=\"44100$44.1,48000$48\"/>\n"
                               "<samplerate v=\"48000\"/>\n<channels v=\"1$Mono,2$Stereo\"/>\n<channel v=\"2\"/>\n"
                               "<audiocodecs v=\"libmp3lame$LAME\"/>\n<audiocodecname v=\"LIBMP3LAME\"/>\n"
                               "<Profile>\n<profilename v=\"OGG\"/>\n<audiobitrates v=\"96000$96,160000$160\"/>\n"
                               "<audiobitrate v=\"999\"/>\n<samplerates v=\"44100$44.1,22050$22.05\"/>\n<samplerate v=\"44100\"/>\n"
                               "<channels v=\"Mono,Stereo\"/>\n<channel v=\"2\"/>\n"
                               "<audiocodecs v=\"libvorbis$Vorbis\"/>\n<audiocodecname v=\"libvorbis\"/>\n"),
                  FPanel->Profiles());
  }
  void AddRows(int ACount) {
    for (int i = 0; i < ACount; ++i) FList->Rows().Append(TAudioFile{});
    FList->Repaint();
  }
  const TProfile& Profile(int i) const { return FPanel->Profiles()[static_cast<size_t>(i)]; }

  QWidget FParent;
  test::TRecordingSink FSink;
  std::unique_ptr<TSourceList> FList;
  std::unique_ptr<TProfilePanel> FPanel;
};

TEST_F(ProfileChoicesTest, FillingShowsCaptionsAndSelectsTheChosenValues) {
  FPanel->FillProfileList();
  EXPECT_EQ(FPanel->cmbProfile->count(), 2);
  EXPECT_EQ(FPanel->CurProfile(), 0);
  EXPECT_EQ(FPanel->cmbAudioBitRate->currentText(), "128");
  EXPECT_EQ(FPanel->cmbSampleRate->currentText(), "48");
  EXPECT_EQ(FPanel->cmbAudioEncoder->currentText(), "LAME") << "values compare ignoring case";
  EXPECT_EQ(FPanel->cmbQuality->currentText(), "Standard");
}

TEST_F(ProfileChoicesTest, AnUnmatchedValueLeavesNoSelection) {
  FPanel->SetRecentProfile(1);
  FPanel->FillProfileList();
  EXPECT_EQ(FPanel->cmbAudioBitRate->count(), 2);
  EXPECT_EQ(FPanel->cmbAudioBitRate->currentIndex(), -1);
  EXPECT_EQ(FPanel->cmbQuality->currentText(), "Standard");
  // Captions without values: items shown, none selected.
  EXPECT_EQ(FPanel->cmbChannel->count(), 2);
  EXPECT_EQ(FPanel->cmbChannel->currentIndex(), -1);
}

TEST_F(ProfileChoicesTest, AStoredIndexOutsideTheSetSelectsTheFirstProfile) {
  FPanel->SetRecentProfile(7);
  FPanel->FillProfileList();
  EXPECT_EQ(FPanel->cmbProfile->currentIndex(), 0);
  EXPECT_EQ(FPanel->CurProfile(), 0);
  EXPECT_EQ(FPanel->RecentProfile(), 0);
}

TEST_F(ProfileChoicesTest, AnEmptySetLeavesEveryChoiceEmpty) {
  FPanel->Profiles().clear();
  FPanel->FillProfileList();
  AddRows(1);
  FPanel->StoreProfileChoices();
  FPanel->cmbQualityCloseUp();
  EXPECT_EQ(FPanel->cmbProfile->count(), 0);
  EXPECT_EQ(FPanel->cmbAudioBitRate->count(), 0);
  EXPECT_EQ(FPanel->LastEditedProfile(), -1);
  EXPECT_TRUE(FSink.Reports.empty());
}

TEST_F(ProfileChoicesTest, ApplyToAllDecidesWhichRowsTakeTheProfile) {
  struct TCase {
    bool ApplyToAll;
    std::vector<int> Expected;
  };
  for (const TCase& c : {TCase{true, {1, 1, 1}}, TCase{false, {0, 1, 0}}}) {
    FList->Rows().Clear();
    FPanel->FillProfileList();
    AddRows(3);
    FPanel->chApplyToAll->setChecked(c.ApplyToAll);
    FList->Grid()->selectRow(1);
    FPanel->cmbProfile->setCurrentIndex(1);
    FPanel->cmbProfileClick();
    std::vector<int> got;
    for (const TAudioFile& f : FList->AudioFiles()) got.push_back(f.ProfileInd);
    EXPECT_EQ(got, c.Expected) << "Apply to All " << c.ApplyToAll;
    EXPECT_EQ(FPanel->CurProfile(), 1);
  }
}

TEST_F(ProfileChoicesTest, CheckingApplyToAllGivesEveryRowTheCurrentProfile) {
  FPanel->FillProfileList();
  AddRows(2);
  FList->Rows().SetProfile(1, 1);
  FPanel->chApplyToAll->setChecked(false);
  FPanel->chApplyToAllClick();
  EXPECT_EQ(FList->AudioFiles()[1].ProfileInd, 1) << "unchecking changes nothing";
  FPanel->chApplyToAll->setChecked(true);
  FPanel->chApplyToAllClick();
  EXPECT_EQ(FList->AudioFiles()[1].ProfileInd, 0);
}

TEST_F(ProfileChoicesTest, QualityStandardReturnsToTheFilesBitRate) {
  FPanel->FillProfileList();
  AddRows(1);
  FPanel->cmbAudioBitRate->setCurrentIndex(3);
  FPanel->StoreProfileChoices();
  EXPECT_EQ(Profile(0).AudioBitRate, "320000");
  struct TCase {
    const char* Quality;
    const char* BitRate;
  };
  for (const TCase& c : {TCase{"Low", "64000"}, TCase{"High", "320000"}, TCase{"Standard", "128000"}}) {
    FPanel->cmbQuality->setCurrentText(c.Quality);
    FPanel->cmbQualityCloseUp();
    EXPECT_EQ(Profile(0).AudioBitRate, QString::fromLatin1(c.BitRate)) << c.Quality;
  }
  EXPECT_EQ(FPanel->LastEditedProfile(), 0);
  EXPECT_TRUE(FSink.Reports.empty());
}

TEST_F(ProfileChoicesTest, ChoicesOnAnEmptyListAreNotStored) {
  FPanel->FillProfileList();
  FPanel->cmbQuality->setCurrentText("High");
  FPanel->cmbQualityCloseUp();
  EXPECT_EQ(FPanel->cmbAudioBitRate->currentIndex(), 3) << "the choice moves";
  EXPECT_EQ(Profile(0).AudioBitRate, "128000") << "the profile keeps its bit rate";
  EXPECT_EQ(FPanel->LastEditedProfile(), -1);
}

TEST_F(ProfileChoicesTest, AChoiceWithoutValuesCannotBeStored) {
  FPanel->SetRecentProfile(1);
  FPanel->FillProfileList();
  AddRows(1);
  FPanel->cmbSampleRate->setCurrentIndex(1);
  FPanel->cmbChannel->setCurrentIndex(1);
  FPanel->cmbAudioBitRate->setCurrentIndex(1);
  FPanel->StoreProfileChoices();
  ASSERT_EQ(FSink.Reports.size(), 1u);
  EXPECT_EQ(FSink.Reports[0], std::make_pair(QString("Error setting profile"), QString("CLM_SettingProfile")));
  EXPECT_EQ(Profile(1).SampleRate, "22050") << "stored before the failure";
  EXPECT_EQ(Profile(1).AudioBitRate, "999") << "not reached after the failure";
}

TEST_F(ProfileChoicesTest, AProfileClickAfterTheDialogEmptiedTheListIsIgnored) {
  FPanel->FillProfileList();
  FPanel->SetAddedByDialog(true);
  FPanel->cmbProfile->setCurrentIndex(1);
  FPanel->cmbProfileClick();
  EXPECT_EQ(FPanel->CurProfile(), 0);
  EXPECT_EQ(FPanel->cmbAudioBitRate->currentText(), "128");
}

TEST_F(ProfileChoicesTest, EachProfileKeepsItsOwnChoices) {
  FPanel->FillProfileList();
  AddRows(1);
  FPanel->cmbSampleRate->setCurrentIndex(0);
  FPanel->StoreProfileChoices();
  FPanel->SelectProfile(1);
  FPanel->SelectProfile(0);
  EXPECT_EQ(FPanel->cmbSampleRate->currentText(), "44.1");
}

TEST_F(ProfileChoicesTest, ClosingAChoicesListStoresIt) {
  FPanel->FillProfileList();
  AddRows(1);
  FPanel->cmbSampleRate->setCurrentIndex(0);
  FPanel->cmbSampleRate->showPopup();
  FPanel->cmbSampleRate->hidePopup();
  QCoreApplication::processEvents();
  EXPECT_EQ(Profile(0).SampleRate, "44100");
}

}  // namespace
}  // namespace quorvel
