// The position sliders of the two players (the preview panel's and the trim
// dialog's). A click on the track puts the knob under the mouse and holds it
// there as if it had been grabbed, so the release seeks to the clicked point.
// The platform styles step a page towards the click instead, and the player
// would move one page or the next position would snap the knob back.
#pragma once

class QSlider;

namespace quorvel {

void JumpToClickedPoint(QSlider* ASlider);

}  // namespace quorvel
