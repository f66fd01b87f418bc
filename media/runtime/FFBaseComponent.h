// The common base of the media components (the log collector, the encoder
// task manager, the decoder and the player). Components are the Sender of
// their events.
#pragma once

#include <string>

namespace quorvel {

class TObject {
public:
  virtual ~TObject() = default;
};

class TFFBaseComponent : public TObject {
public:
  // The component's read-only version text.
  const std::string& Version() const { return FVersion; }

protected:
  explicit TFFBaseComponent(std::string AVersion = "Quorvel media 0.1") : FVersion(std::move(AVersion)) {}

private:
  std::string FVersion;
};

}  // namespace quorvel
