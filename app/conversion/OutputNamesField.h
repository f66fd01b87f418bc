// The window's "File names" field under the output folder: the pattern the
// outputs are named by (fields of the source's tags and path, "/" between
// folders; see media/batch/NamePattern.h), a menu of presets for the usual
// shapes (flat, the added folders' tree kept, artist/album/track), and an
// example: the name the first row's output gets, redrawn as the pattern is
// typed, as the rows change and as their profiles change. An empty pattern
// names each output by its row's title in the output folder itself, as the
// window always did.
//
// Owner: the user-interface thread (the example takes the first row's tags
// as they were read when it was added: no source is opened here).
#pragma once

#include <QString>
#include <QWidget>

#include "profiles/Profile.h"

class QComboBox;
class QLabel;
class QLineEdit;

namespace quorvel {

class TSourceList;

class TOutputNamesField : public QWidget {
public:
  explicit TOutputNamesField(QWidget* AParent);

  // The rows the example is drawn from and the profile set their indexes
  // name; the example follows their changes from then on.
  void Bind(TSourceList& AList, const TProfiles& AProfiles);

  // The pattern as typed, without surrounding spaces ("" for none).
  QString Pattern() const;
  void SetPattern(const QString& APattern);

  QLineEdit* Editor() const { return FEditor; }
  QComboBox* Presets() const { return FPresets; }
  QLabel* Example() const { return FExample; }

  // The name the first row's output gets under APattern, with its folders
  // and extension ("" without rows): what the example shows.
  QString ExampleName(const QString& APattern);

private:
  void ShowExample();

  QLineEdit* FEditor = nullptr;
  QComboBox* FPresets = nullptr;
  QLabel* FExample = nullptr;
  TSourceList* FList = nullptr;
  const TProfiles* FProfiles = nullptr;
};

}  // namespace quorvel
