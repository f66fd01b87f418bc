#include "media/engine/BuiltinPresets.h"

#include <strings.h>

namespace quorvel {

namespace {

// The option names are those of the x264 wrapper the presets were written
// for; the store checks each against the loaded libraries when applied.
constexpr char kBaseline[] =
    "coder=0\n"
    "bf=0\n"
    "flags2=-wpred-dct8x8\n"
    "wpredp=0\n";

constexpr char kDefault[] =
    "coder=1\n"
    "flags=+loop\n"
    "cmp=+chroma\n"
    "partitions=+parti8x8+parti4x4+partp8x8+partb8x8\n"
    "me_method=hex\n"
    "subq=7\n"
    "g=250\n"
    "keyint_min=25\n"
    "sc_threshold=40\n"
    "i_qfactor=0.71\n"
    "b_strategy=1\n"
    "qcomp=0.6\n"
    "qmin=10\n"
    "qmax=51\n"
    "qdiff=4\n"
    "bf=3\n"
    "refs=3\n"
    "directpred=1\n"
    "trellis=1\n"
    "flags2=+mixed_refs+wpred+dct8x8+fastpskip\n"
    "wpredp=2\n";

constexpr char kFast[] =
    "coder=1\n"
    "flags=+loop\n"
    "cmp=+chroma\n"
    "partitions=+parti8x8+parti4x4+partp8x8+partb8x8\n"
    "me_method=hex\n"
    "subq=6\n"
    "g=250\n"
    "keyint_min=25\n"
    "sc_threshold=40\n"
    "i_qfactor=0.71\n"
    "b_strategy=1\n"
    "qcomp=0.6\n"
    "qmin=10\n"
    "qmax=51\n"
    "qdiff=4\n"
    "bf=3\n"
    "refs=2\n"
    "directpred=1\n"
    "trellis=1\n"
    "flags2=+bpyramid+mixed_refs+wpred+dct8x8+fastpskip\n"
    "wpredp=2\n"
    "rc_lookahead=30\n";

constexpr char kFastFirstpass[] =
    "coder=1\n"
    "flags=+loop\n"
    "cmp=+chroma\n"
    "partitions=-parti8x8-parti4x4-partp8x8-partb8x8\n"
    "me_method=dia\n"
    "subq=2\n"
    "g=250\n"
    "keyint_min=25\n"
    "sc_threshold=40\n"
    "i_qfactor=0.71\n"
    "b_strategy=1\n"
    "qcomp=0.6\n"
    "qmin=10\n"
    "qmax=51\n"
    "qdiff=4\n"
    "bf=3\n"
    "refs=1\n"
    "directpred=1\n"
    "trellis=0\n"
    "flags2=+bpyramid-mixed_refs+wpred-dct8x8+fastpskip\n"
    "wpredp=2\n"
    "rc_lookahead=30\n";

constexpr char kFaster[] =
    "coder=1\n"
    "flags=+loop\n"
    "cmp=+chroma\n"
    "partitions=+parti8x8+parti4x4+partp8x8+partb8x8\n"
    "me_method=hex\n"
    "subq=4\n"
    "g=250\n"
    "keyint_min=25\n"
    "sc_threshold=40\n"
    "i_qfactor=0.71\n"
    "b_strategy=1\n"
    "qcomp=0.6\n"
    "qmin=10\n"
    "qmax=51\n"
    "qdiff=4\n"
    "bf=3\n"
    "refs=2\n"
    "directpred=1\n"
    "trellis=1\n"
    "flags2=+bpyramid-mixed_refs+wpred+dct8x8+fastpskip\n"
    "wpredp=1\n"
    "rc_lookahead=20\n";

constexpr char kFasterFirstpass[] =
    "coder=1\n"
    "flags=+loop\n"
    "cmp=+chroma\n"
    "partitions=-parti8x8-parti4x4-partp8x8-partb8x8\n"
    "me_method=dia\n"
    "subq=2\n"
    "g=250\n"
    "keyint_min=25\n"
    "sc_threshold=40\n"
    "i_qfactor=0.71\n"
    "b_strategy=1\n"
    "qcomp=0.6\n"
    "qmin=10\n"
    "qmax=51\n"
    "qdiff=4\n"
    "bf=3\n"
    "refs=1\n"
    "directpred=1\n"
    "trellis=0\n"
    "flags2=+bpyramid-mixed_refs+wpred-dct8x8+fastpskip\n"
    "wpredp=1\n"
    "rc_lookahead=20\n";

constexpr char kFastfirstpass[] =
    "coder=1\n"
    "flags=+loop\n"
    "cmp=+chroma\n"
    "partitions=-parti8x8-parti4x4-partp8x8-partb8x8\n"
    "me_method=dia\n"
    "subq=2\n"
    "g=250\n"
    "keyint_min=25\n"
    "sc_threshold=40\n"
    "i_qfactor=0.71\n"
    "b_strategy=1\n"
    "qcomp=0.6\n"
    "qmin=10\n"
    "qmax=51\n"
    "qdiff=4\n"
    "bf=3\n"
    "refs=1\n"
    "directpred=1\n"
    "trellis=0\n"
    "flags2=+wpred-dct8x8+fastpskip\n"
    "wpredp=2\n";

constexpr char kHq[] =
    "coder=1\n"
    "flags=+loop\n"
    "cmp=+chroma\n"
    "partitions=+parti8x8+parti4x4+partp8x8+partb8x8\n"
    "me_method=umh\n"
    "subq=8\n"
    "g=250\n"
    "keyint_min=25\n"
    "sc_threshold=40\n"
    "i_qfactor=0.71\n"
    "b_strategy=2\n"
    "qcomp=0.6\n"
    "qmin=10\n"
    "qmax=51\n"
    "qdiff=4\n"
    "bf=3\n"
    "refs=4\n"
    "directpred=3\n"
    "trellis=2\n"
    "flags2=+wpred+mixed_refs+dct8x8+fastpskip\n"
    "wpredp=2\n";

constexpr char kIpod320[] =
    "coder=0\n"
    "bf=0\n"
    "flags2=-wpred-dct8x8\n"
    "level=13\n"
    "maxrate=768000\n"
    "bufsize=3000000\n"
    "wpredp=0\n";

constexpr char kIpod640[] =
    "coder=0\n"
    "bf=0\n"
    "refs=1\n"
    "flags2=-wpred-dct8x8\n"
    "level=30\n"
    "maxrate=10000000\n"
    "bufsize=10000000\n"
    "wpredp=0\n";

constexpr char kLosslessFast[] =
    "coder=0\n"
    "flags=+loop\n"
    "cmp=+chroma\n"
    "partitions=-parti8x8+parti4x4+partp8x8-partp4x4-partb8x8\n"
    "me_method=hex\n"
    "subq=3\n"
    "g=250\n"
    "keyint_min=25\n"
    "sc_threshold=40\n"
    "i_qfactor=0.71\n"
    "b_strategy=1\n"
    "qcomp=0.6\n"
    "qmin=10\n"
    "qmax=51\n"
    "qdiff=4\n"
    "directpred=1\n"
    "flags2=+fastpskip\n"
    "cqp=0\n";

constexpr char kLosslessMax[] =
    "coder=0\n"
    "flags=+loop\n"
    "cmp=+chroma\n"
    "partitions=+parti8x8+parti4x4+partp8x8+partp4x4-partb8x8\n"
    "me_method=esa\n"
    "subq=8\n"
    "g=250\n"
    "keyint_min=25\n"
    "sc_threshold=40\n"
    "i_qfactor=0.71\n"
    "b_strategy=1\n"
    "qcomp=0.6\n"
    "qmin=10\n"
    "qmax=51\n"
    "qdiff=4\n"
    "directpred=1\n"
    "flags2=+fastpskip\n"
    "cqp=0\n"
    "refs=16\n"
    "me_range=32\n";

constexpr char kLosslessMedium[] =
    "coder=0\n"
    "flags=+loop\n"
    "cmp=+chroma\n"
    "partitions=+parti8x8+parti4x4+partp8x8+partp4x4-partb8x8\n"
    "me_method=hex\n"
    "subq=5\n"
    "g=250\n"
    "keyint_min=25\n"
    "sc_threshold=40\n"
    "i_qfactor=0.71\n"
    "b_strategy=1\n"
    "qcomp=0.6\n"
    "qmin=10\n"
    "qmax=51\n"
    "qdiff=4\n"
    "directpred=1\n"
    "flags2=+fastpskip\n"
    "cqp=0\n";

constexpr char kLosslessSlow[] =
    "coder=0\n"
    "flags=+loop\n"
    "cmp=+chroma\n"
    "partitions=+parti8x8+parti4x4+partp8x8+partp4x4-partb8x8\n"
    "me_method=umh\n"
    "subq=6\n"
    "g=250\n"
    "keyint_min=25\n"
    "sc_threshold=40\n"
    "i_qfactor=0.71\n"
    "b_strategy=1\n"
    "qcomp=0.6\n"
    "qmin=10\n"
    "qmax=51\n"
    "qdiff=4\n"
    "directpred=1\n"
    "flags2=+fastpskip\n"
    "cqp=0\n"
    "refs=2\n";

constexpr char kLosslessSlower[] =
    "coder=0\n"
    "flags=+loop\n"
    "cmp=+chroma\n"
    "partitions=+parti8x8+parti4x4+partp8x8+partp4x4-partb8x8\n"
    "me_method=umh\n"
    "subq=8\n"
    "g=250\n"
    "keyint_min=25\n"
    "sc_threshold=40\n"
    "i_qfactor=0.71\n"
    "b_strategy=1\n"
    "qcomp=0.6\n"
    "qmin=10\n"
    "qmax=51\n"
    "qdiff=4\n"
    "directpred=1\n"
    "flags2=+fastpskip\n"
    "cqp=0\n"
    "refs=4\n";

constexpr char kLosslessUltrafast[] =
    "coder=0\n"
    "flags=+loop\n"
    "cmp=+chroma\n"
    "partitions=-parti8x8-parti4x4-partp8x8-partp4x4-partb8x8\n"
    "me_method=dia\n"
    "subq=0\n"
    "g=250\n"
    "keyint_min=25\n"
    "sc_threshold=40\n"
    "i_qfactor=0.71\n"
    "b_strategy=1\n"
    "qcomp=0.6\n"
    "qmin=10\n"
    "qmax=51\n"
    "qdiff=4\n"
    "directpred=1\n"
    "flags2=+fastpskip\n"
    "cqp=0\n";

constexpr char kMain[] =
    "flags2=-dct8x8\n";

constexpr char kMax[] =
    "coder=1\n"
    "flags=+loop\n"
    "cmp=+chroma\n"
    "partitions=+parti8x8+parti4x4+partp8x8+partb8x8+partp4x4\n"
    "me_method=tesa\n"
    "subq=9\n"
    "g=250\n"
    "keyint_min=25\n"
    "sc_threshold=40\n"
    "i_qfactor=0.71\n"
    "b_strategy=2\n"
    "qcomp=0.6\n"
    "qmin=10\n"
    "qmax=51\n"
    "qdiff=4\n"
    "bf=3\n"
    "refs=16\n"
    "directpred=3\n"
    "trellis=2\n"
    "flags2=+mixed_refs+wpred+dct8x8-fastpskip\n"
    "wpredp=2\n";

constexpr char kMedium[] =
    "coder=1\n"
    "flags=+loop\n"
    "cmp=+chroma\n"
    "partitions=+parti8x8+parti4x4+partp8x8+partb8x8\n"
    "me_method=hex\n"
    "subq=7\n"
    "g=250\n"
    "keyint_min=25\n"
    "sc_threshold=40\n"
    "i_qfactor=0.71\n"
    "b_strategy=1\n"
    "qcomp=0.6\n"
    "qmin=10\n"
    "qmax=51\n"
    "qdiff=4\n"
    "bf=3\n"
    "refs=3\n"
    "directpred=1\n"
    "trellis=1\n"
    "flags2=+bpyramid+mixed_refs+wpred+dct8x8+fastpskip\n"
    "wpredp=2\n"
    "rc_lookahead=40\n";

constexpr char kNormal[] =
    "coder=1\n"
    "flags=+loop\n"
    "cmp=+chroma\n"
    "partitions=+parti8x8+parti4x4+partp8x8+partb8x8\n"
    "me_method=hex\n"
    "subq=6\n"
    "g=250\n"
    "keyint_min=25\n"
    "sc_threshold=40\n"
    "i_qfactor=0.71\n"
    "b_strategy=1\n"
    "qcomp=0.6\n"
    "qmin=10\n"
    "qmax=51\n"
    "qdiff=4\n"
    "bf=3\n"
    "refs=2\n"
    "directpred=3\n"
    "trellis=0\n"
    "flags2=+wpred+dct8x8+fastpskip\n"
    "wpredp=2\n";

constexpr char kPlacebo[] =
    "coder=1\n"
    "flags=+loop\n"
    "cmp=+chroma\n"
    "partitions=+parti8x8+parti4x4+partp8x8+partp4x4+partb8x8\n"
    "me_method=tesa\n"
    "subq=10\n"
    "g=250\n"
    "keyint_min=25\n"
    "sc_threshold=40\n"
    "i_qfactor=0.71\n"
    "b_strategy=2\n"
    "qcomp=0.6\n"
    "qmin=10\n"
    "qmax=51\n"
    "qdiff=4\n"
    "bf=16\n"
    "refs=16\n"
    "directpred=3\n"
    "trellis=2\n"
    "flags2=+bpyramid+mixed_refs+wpred+dct8x8-fastpskip\n"
    "wpredp=2\n"
    "me_range=24\n";

constexpr char kSlow[] =
    "coder=1\n"
    "flags=+loop\n"
    "cmp=+chroma\n"
    "partitions=+parti8x8+parti4x4+partp8x8+partb8x8\n"
    "me_method=umh\n"
    "subq=8\n"
    "g=250\n"
    "keyint_min=25\n"
    "sc_threshold=40\n"
    "i_qfactor=0.71\n"
    "b_strategy=2\n"
    "qcomp=0.6\n"
    "qmin=10\n"
    "qmax=51\n"
    "qdiff=4\n"
    "bf=3\n"
    "refs=5\n"
    "directpred=3\n"
    "trellis=1\n"
    "flags2=+bpyramid+mixed_refs+wpred+dct8x8+fastpskip\n"
    "wpredp=2\n"
    "rc_lookahead=50\n";

constexpr char kSlowFirstpass[] =
    "coder=1\n"
    "flags=+loop\n"
    "cmp=+chroma\n"
    "partitions=-parti8x8-parti4x4-partp8x8-partb8x8\n"
    "me_method=dia\n"
    "subq=2\n"
    "g=250\n"
    "keyint_min=25\n"
    "sc_threshold=40\n"
    "i_qfactor=0.71\n"
    "b_strategy=2\n"
    "qcomp=0.6\n"
    "qmin=10\n"
    "qmax=51\n"
    "qdiff=4\n"
    "bf=3\n"
    "refs=1\n"
    "directpred=3\n"
    "trellis=0\n"
    "flags2=+bpyramid-mixed_refs+wpred-dct8x8+fastpskip\n"
    "wpredp=2\n"
    "rc_lookahead=50\n";

constexpr char kSlower[] =
    "coder=1\n"
    "flags=+loop\n"
    "cmp=+chroma\n"
    "partitions=+parti8x8+parti4x4+partp8x8+partb8x8+partp4x4\n"
    "me_method=umh\n"
    "subq=9\n"
    "g=250\n"
    "keyint_min=25\n"
    "sc_threshold=40\n"
    "i_qfactor=0.71\n"
    "b_strategy=2\n"
    "qcomp=0.6\n"
    "qmin=10\n"
    "qmax=51\n"
    "qdiff=4\n"
    "bf=3\n"
    "refs=8\n"
    "directpred=3\n"
    "trellis=2\n"
    "flags2=+bpyramid+mixed_refs+wpred+dct8x8+fastpskip\n"
    "wpredp=2\n"
    "rc_lookahead=60\n";

constexpr char kSlowfirstpass[] =
    "coder=1\n"
    "flags=+loop\n"
    "cmp=+chroma\n"
    "partitions=-parti8x8-parti4x4-partp8x8-partb8x8\n"
    "me_method=dia\n"
    "subq=2\n"
    "g=250\n"
    "keyint_min=25\n"
    "sc_threshold=40\n"
    "i_qfactor=0.71\n"
    "b_strategy=1\n"
    "qcomp=0.6\n"
    "qmin=10\n"
    "qmax=51\n"
    "qdiff=4\n"
    "bf=3\n"
    "refs=1\n"
    "directpred=3\n"
    "trellis=0\n"
    "flags2=+wpred-dct8x8+fastpskip\n"
    "wpredp=2\n";

constexpr char kSuperfast[] =
    "coder=1\n"
    "flags=+loop\n"
    "cmp=+chroma\n"
    "partitions=+parti8x8+parti4x4-partp8x8-partb8x8\n"
    "me_method=dia\n"
    "subq=1\n"
    "g=250\n"
    "keyint_min=25\n"
    "sc_threshold=40\n"
    "i_qfactor=0.71\n"
    "b_strategy=1\n"
    "qcomp=0.6\n"
    "qmin=10\n"
    "qmax=51\n"
    "qdiff=4\n"
    "bf=3\n"
    "refs=1\n"
    "directpred=1\n"
    "trellis=0\n"
    "flags2=+bpyramid-mixed_refs+wpred+dct8x8+fastpskip-mbtree\n"
    "wpredp=0\n"
    "rc_lookahead=0\n";

constexpr char kSuperfastFirstpass[] =
    "coder=1\n"
    "flags=+loop\n"
    "cmp=+chroma\n"
    "partitions=-parti8x8-parti4x4-partp8x8-partb8x8\n"
    "me_method=dia\n"
    "subq=1\n"
    "g=250\n"
    "keyint_min=25\n"
    "sc_threshold=40\n"
    "i_qfactor=0.71\n"
    "b_strategy=1\n"
    "qcomp=0.6\n"
    "qmin=10\n"
    "qmax=51\n"
    "qdiff=4\n"
    "bf=3\n"
    "refs=1\n"
    "directpred=1\n"
    "trellis=0\n"
    "flags2=+bpyramid-mixed_refs+wpred-dct8x8+fastpskip-mbtree\n"
    "wpredp=0\n"
    "rc_lookahead=0\n";

constexpr char kUltrafast[] =
    "coder=0\n"
    "flags=-loop\n"
    "cmp=+chroma\n"
    "partitions=-parti8x8-parti4x4-partp8x8-partb8x8\n"
    "me_method=dia\n"
    "subq=0\n"
    "g=250\n"
    "keyint_min=25\n"
    "sc_threshold=0\n"
    "i_qfactor=0.71\n"
    "b_strategy=0\n"
    "qcomp=0.6\n"
    "qmin=10\n"
    "qmax=51\n"
    "qdiff=4\n"
    "bf=0\n"
    "refs=1\n"
    "directpred=1\n"
    "trellis=0\n"
    "flags2=-bpyramid-mixed_refs-wpred-dct8x8+fastpskip-mbtree\n"
    "wpredp=0\n"
    "rc_lookahead=0\n";

constexpr char kVeryfast[] =
    "coder=1\n"
    "flags=+loop\n"
    "cmp=+chroma\n"
    "partitions=+parti8x8+parti4x4+partp8x8+partb8x8\n"
    "me_method=hex\n"
    "subq=2\n"
    "g=250\n"
    "keyint_min=25\n"
    "sc_threshold=40\n"
    "i_qfactor=0.71\n"
    "b_strategy=1\n"
    "qcomp=0.6\n"
    "qmin=10\n"
    "qmax=51\n"
    "qdiff=4\n"
    "bf=3\n"
    "refs=1\n"
    "directpred=1\n"
    "trellis=0\n"
    "flags2=+bpyramid-mixed_refs+wpred+dct8x8+fastpskip\n"
    "wpredp=0\n"
    "rc_lookahead=10\n";

constexpr char kVeryfastFirstpass[] =
    "coder=1\n"
    "flags=+loop\n"
    "cmp=+chroma\n"
    "partitions=-parti8x8-parti4x4-partp8x8-partb8x8\n"
    "me_method=dia\n"
    "subq=2\n"
    "g=250\n"
    "keyint_min=25\n"
    "sc_threshold=40\n"
    "i_qfactor=0.71\n"
    "b_strategy=1\n"
    "qcomp=0.6\n"
    "qmin=10\n"
    "qmax=51\n"
    "qdiff=4\n"
    "bf=3\n"
    "refs=1\n"
    "directpred=1\n"
    "trellis=0\n"
    "flags2=+bpyramid-mixed_refs+wpred-dct8x8+fastpskip\n"
    "wpredp=0\n"
    "rc_lookahead=10\n";

constexpr char kVeryslow[] =
    "coder=1\n"
    "flags=+loop\n"
    "cmp=+chroma\n"
    "partitions=+parti8x8+parti4x4+partp8x8+partb8x8+partp4x4\n"
    "me_method=umh\n"
    "subq=10\n"
    "g=250\n"
    "keyint_min=25\n"
    "sc_threshold=40\n"
    "i_qfactor=0.71\n"
    "b_strategy=2\n"
    "qcomp=0.6\n"
    "qmin=10\n"
    "qmax=51\n"
    "qdiff=4\n"
    "bf=8\n"
    "refs=16\n"
    "directpred=3\n"
    "trellis=2\n"
    "flags2=+bpyramid+mixed_refs+wpred+dct8x8+fastpskip\n"
    "wpredp=2\n"
    "me_range=24\n";

constexpr char kVeryslowFirstpass[] =
    "coder=1\n"
    "flags=+loop\n"
    "cmp=+chroma\n"
    "partitions=-parti8x8-parti4x4-partp8x8-partb8x8\n"
    "me_method=dia\n"
    "subq=2\n"
    "g=250\n"
    "keyint_min=25\n"
    "sc_threshold=40\n"
    "i_qfactor=0.71\n"
    "b_strategy=2\n"
    "qcomp=0.6\n"
    "qmin=10\n"
    "qmax=51\n"
    "qdiff=4\n"
    "bf=8\n"
    "refs=1\n"
    "directpred=3\n"
    "trellis=0\n"
    "flags2=+bpyramid-mixed_refs+wpred-dct8x8+fastpskip\n"
    "wpredp=2\n"
    "rc_lookahead=60\n";


constexpr TOptionsPreset kBuiltinPresets[] = {
    {"libx264-baseline", kBaseline},
    {"libx264-default", kDefault},
    {"libx264-fast", kFast},
    {"libx264-fast_firstpass", kFastFirstpass},
    {"libx264-faster", kFaster},
    {"libx264-faster_firstpass", kFasterFirstpass},
    {"libx264-fastfirstpass", kFastfirstpass},
    {"libx264-hq", kHq},
    {"libx264-ipod320", kIpod320},
    {"libx264-ipod640", kIpod640},
    {"libx264-lossless_fast", kLosslessFast},
    {"libx264-lossless_max", kLosslessMax},
    {"libx264-lossless_medium", kLosslessMedium},
    {"libx264-lossless_slow", kLosslessSlow},
    {"libx264-lossless_slower", kLosslessSlower},
    {"libx264-lossless_ultrafast", kLosslessUltrafast},
    {"libx264-main", kMain},
    {"libx264-max", kMax},
    {"libx264-medium", kMedium},
    {"libx264-medium_firstpass", kFastFirstpass},
    {"libx264-normal", kNormal},
    {"libx264-placebo", kPlacebo},
    {"libx264-placebo_firstpass", kPlacebo},
    {"libx264-slow", kSlow},
    {"libx264-slow_firstpass", kSlowFirstpass},
    {"libx264-slower", kSlower},
    {"libx264-slower_firstpass", kSlowFirstpass},
    {"libx264-slowfirstpass", kSlowfirstpass},
    {"libx264-superfast", kSuperfast},
    {"libx264-superfast_firstpass", kSuperfastFirstpass},
    {"libx264-ultrafast", kUltrafast},
    {"libx264-ultrafast_firstpass", kUltrafast},
    {"libx264-veryfast", kVeryfast},
    {"libx264-veryfast_firstpass", kVeryfastFirstpass},
    {"libx264-veryslow", kVeryslow},
    {"libx264-veryslow_firstpass", kVeryslowFirstpass},
};

}  // namespace

std::span<const TOptionsPreset> BuiltinPresets() { return kBuiltinPresets; }

const TOptionsPreset* FindBuiltinPreset(const std::string& AName) {
  for (const TOptionsPreset& preset : kBuiltinPresets)
    if (strcasecmp(preset.Name, AName.c_str()) == 0) return &preset;
  return nullptr;
}

}  // namespace quorvel
