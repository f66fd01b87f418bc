// The media probe and decoder.
//
// TCustomDecoder opens a media file (or is attached to a format context that
// someone else opened) and answers questions about it: container data and
// metadata, the streams and their kinds, per-stream records and a readable
// multi-line description. TFFDecoder adds step-wise decoding of a file it
// opened itself: seeking, video frames into pictures and bitmaps, and audio
// into PCM of a requested channel count, sample rate and sample format.
//
// Failures are answered with false, -1 or an empty text and the reason in
// LastErrMsg (most are also logged through the log collector with the
// decoder as sender). Only two things throw: using a decoder while the media
// libraries it needs are not loaded, and asking a decoder that is attached
// to someone else's context to decode or seek.
//
// Threads: a decoder belongs to one thread at a time (its owner's). An
// attached context stays its owner's; the decoder only reads it.
#pragma once

#include <atomic>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/rational.h>
#include <libavutil/samplefmt.h>
}

#include "media/runtime/Bitmap.h"
#include "media/runtime/FFBaseComponent.h"
#include "media/runtime/FFLoad.h"
#include "media/runtime/FFLog.h"
#include "media/runtime/FormatConverter.h"
#include "media/runtime/LibHandles.h"
#include "media/runtime/ReadTimeout.h"

struct SwrContext;

namespace quorvel {

// ---- records ----

// Container data. Without a file every number is -1 and every text empty.
struct TFileStreamInfo {
  int64_t StartTime = -1;  // µs, -1 when unknown
  int64_t Duration = -1;   // µs, -1 when unknown
  int64_t BitRate = -1;    // bit/s
  int64_t TimeStamp = -1;  // creation time, seconds since 1970 (UTC); 0 when the file has none
  int Year = -1;           // 0 when the file has none
  int Track = -1;          // 0 when the file has none
  std::string Title;
  std::string Author;
  std::string Copyright;
  std::string Comment;
  std::string Album;
  std::string Genre;
};

// StartTime and Duration are in the stream's time base and hold the no-time
// value (AV_NOPTS_VALUE) when the stream does not know them; the Scaled forms
// are µs and stay -1 then.
struct TTimedStreamInfo {
  std::string Language;
  std::string CodecName;
  int64_t StartTime = -1;
  int64_t StartTimeScaled = -1;
  int64_t Duration = -1;
  int64_t DurationScaled = -1;
  int64_t BitRate = -1;
};

struct TAudioStreamInfo : TTimedStreamInfo {
  int Channels = -1;
  int SampleRate = -1;
  int SampleFormat = -1;  // AVSampleFormat
  int BitsPerSample = -1;  // once decoded: the depth the stream keeps (SourceBits)
};

struct TVideoStreamInfo : TTimedStreamInfo {
  int Height = -1;
  int Width = -1;
  float AspectRatio = -1.0f;  // display aspect (width / height on screen)
  int PixFmt = -1;            // AVPixelFormat
  AVRational FrameRate{-1, -1};
};

struct TSubtitleStreamInfo {
  std::string Language;
  std::string CodecName;
};

// ---- texts shared by the probe and its tests ----

// The readable name of a stream's codec: "name(long name)" of its decoder,
// else what is known about the codec id, else its four-character tag.
std::string CodecNameText(const AVCodecParameters& APar);

// The display name of a metadata key (fixed table, letter case counts); a
// key not in the table is returned unchanged.
std::string MetadataDisplayName(const std::string& AKey);

// A metadata block of FileInfoText: "<p>Metadata:" and one line per entry
// but "language", each ending in CR LF. Empty when there is nothing to show.
std::string MetadataBlockText(const AVDictionary* AMetadata, const std::string& APrefix);

// ---- the probe ----

class TCustomDecoder : public TFFBaseComponent {
 public:
  explicit TCustomDecoder(TObject* AOwner = nullptr);
  ~TCustomDecoder() override;
  TCustomDecoder(const TCustomDecoder&) = delete;
  TCustomDecoder& operator=(const TCustomDecoder&) = delete;

  // The decoder's library set: every library but avdevice and avfilter.
  static constexpr TLibraries kLibraries = kDecoderLibraries;
  bool AVLibLoaded() const;
  bool LoadAVLib(const TPathFileName& APath);
  void UnloadAVLib();

  // Opens and analyses a file (UTF-8 name); AFormatName forces a demuxer,
  // empty probes. A failure leaves the decoder closed. Throws Exception when
  // a needed library is not loaded.
  bool LoadFile(const std::string& AFileName, const std::string& AFormatName = std::string());
  virtual void CloseFile();

  AVFormatContext* FileHandle() const { return FFileHandle; }
  // Attaches a context opened elsewhere, without owning it (null detaches).
  // Throws Exception when a needed library is not loaded.
  virtual void SetFileHandle(AVFormatContext* AValue);
  bool OwnHandle() const { return FOwnHandle; }

  const std::string& LastErrMsg() const { return FLastErrMsg; }
  const std::string& ForceFormat() const { return FForceFormat; }
  int64_t FileSize() const { return FFileSize; }
  int StreamCount() const { return FStreamCount; }
  int ProgramCount() const { return FProgramCount; }
  int AudioStreamCount() const { return FAudioStreamCount; }
  int VideoStreamCount() const { return FVideoStreamCount; }
  int SubtitleStreamCount() const { return FSubtitleStreamCount; }
  int FirstAudioStreamIndex() const { return FFirstAudioStreamIndex; }
  int FirstVideoStreamIndex() const { return FFirstVideoStreamIndex; }
  int FirstSubtitleStreamIndex() const { return FFirstSubtitleStreamIndex; }

  // A blocking library call on the file (opening, analysing, reading,
  // seeking) gives up when no read has completed for this many milliseconds
  // (0: waits for ever). Default 10000. The clock restarts with every read
  // that brings data, so a slow but steady input is never cut off; an
  // analysis cut off by it is a failure, never a success with partial
  // stream information.
  int ReadTimeout() const { return FReadLimit.Limit(); }
  void SetReadTimeout(int AMilliseconds) { FReadLimit.SetLimit(AMilliseconds < 0 ? 0 : AMilliseconds); }

  std::string FileName();
  std::string FormatName();
  std::string FormatLongName();
  TFileStreamInfo FileStreamInfo();
  std::string FileInfoText();

  // A negative index means the first stream of the kind.
  bool GetAudioStreamInfo(int AStreamIndex, TAudioStreamInfo& AInfo);
  bool GetVideoStreamInfo(int AStreamIndex, TVideoStreamInfo& AInfo);
  bool GetSubtitleStreamInfo(int AStreamIndex, TSubtitleStreamInfo& AInfo);
  TAudioStreamInfo FirstAudioStreamInfo();
  TVideoStreamInfo FirstVideoStreamInfo();
  TSubtitleStreamInfo FirstSubtitleStreamInfo();

  bool IsAudioStream(int AStreamIndex);
  bool IsVideoStream(int AStreamIndex);
  bool IsSubtitleStream(int AStreamIndex);

 protected:
  virtual void UpdateFileInfo();

  // A failure: kept in LastErrMsg and logged with this decoder as sender.
  void Report(TLogLevel ALevel, const std::string& AMsg);
  void Report(TLogLevel ALevel, const char* AFormat, ...) __attribute__((format(printf, 3, 4)));
  // A progress line: logged only, LastErrMsg keeps the last failure.
  void Trace(TLogLevel ALevel, const char* AFormat, ...) __attribute__((format(printf, 3, 4)));
  void SetLastErrMsg(const std::string& AMsg) { FLastErrMsg = AMsg; }

  // "file not loaded." (warning) when there is no context.
  bool CheckFileLoaded();
  // A failed library call's code, or ETIMEDOUT when the call gave up on the
  // read deadline (the library only says it was interrupted).
  int StepResult(int AResult) const { return AResult < 0 && FIOTimedOut.load() ? AVERROR(ETIMEDOUT) : AResult; }
  // The last I/O step gave up on the read deadline.
  bool IOTimedOut() const { return FIOTimedOut.load(); }
  // The message for an input of that name that gave up on the read
  // deadline: a network input's connection timed out; a local one (a file,
  // a pipe) is only slow, and is not said to have a connection.
  std::string TimedOutText(const std::string& AName) const;
  // Throws Exception naming the first needed library that is not loaded.
  static void CheckLibraries();

  // Holds the read deadline for one blocking library call on AContext (the
  // owned context, or the one being opened): registered with the interrupt
  // registry for the calling thread, so the library gives up once no read
  // on the context's I/O has completed for ReadTimeout.
  class TIOStep {
   public:
    TIOStep(TCustomDecoder& ADecoder, const AVFormatContext* AContext);
    ~TIOStep();
    TIOStep(const TIOStep&) = delete;
    TIOStep& operator=(const TIOStep&) = delete;

   private:
    TCustomDecoder& FDecoder;
    bool FRegistered = false;
  };

 private:
  bool IsStreamOfKind(int AStreamIndex, AVMediaType AType);
  // The stream a record is asked for, or -1 after reporting why not.
  int RecordStream(int AStreamIndex, AVMediaType AType, int AFirst, const char* AKind);
  void CloseContext();
  bool ReadTimedOut(TObject* ASender);
  // The bytes the step's context has read so far (kNoProgress: no I/O yet).
  int64_t IOProgress() const;
  std::string StreamLine(int AIndex);

  AVFormatContext* FFileHandle = nullptr;
  bool FOwnHandle = false;
  std::string FLastErrMsg;
  std::string FForceFormat;
  int64_t FFileSize = -1;
  int FStreamCount = -1;
  int FProgramCount = -1;
  int FAudioStreamCount = -1;
  int FVideoStreamCount = -1;
  int FSubtitleStreamCount = -1;
  int FFirstAudioStreamIndex = -1;
  int FFirstVideoStreamIndex = -1;
  int FFirstSubtitleStreamIndex = -1;
  // The read-timeout rule of the I/O step under way (the owner thread;
  // the interrupt callback runs on that same thread). The step's progress
  // is the byte count of its context's I/O.
  TReadTimeout FReadLimit{10000};
  std::atomic<bool> FIOTimedOut{false};  // the last step gave up on its deadline
  int FIOStepDepth = 0;
  // The context of the step under way (owner thread only).
  const AVFormatContext* FIOContext = nullptr;
};

// ---- the decoder ----

enum TPictureType : int { ptUnknown, ptI, ptP, ptB, ptS, ptSI, ptSP, ptBI };

// The last decoded video frame.
struct TFrameInfo {
  int PixFmt = -1;  // AVPixelFormat
  int Width = 0;
  int Height = 0;
  bool IsKeyFrame = false;
  TPictureType PictureType = ptUnknown;
  int64_t PTS = AV_NOPTS_VALUE;          // µs from the stream start
  int64_t OriginalDTS = AV_NOPTS_VALUE;  // stream time base
  int64_t OriginalPTS = AV_NOPTS_VALUE;  // stream time base
  int StreamIndex = -1;
  int64_t Position = -1;  // byte position of the input when decoding began
  bool Ready = false;
  TPicture Picture;           // planes laid over Buffer
  uint8_t* Buffer = nullptr;  // the decoder's own copy of the pixels
  int Size = 0;
};

// The last decoded block of audio, interleaved PCM.
struct TWaveInfo {
  int Channels = 0;
  int SampleRate = 0;
  int SampleFormat = -1;  // AVSampleFormat, always an interleaved one
  int BytesPerSample = 0;
  int BytesPerSecond = 0;
  int64_t PTS = AV_NOPTS_VALUE;  // µs from the stream start
  int64_t OriginalDTS = AV_NOPTS_VALUE;
  int64_t OriginalPTS = AV_NOPTS_VALUE;
  int StreamIndex = -1;
  bool Ready = false;
  uint8_t* Buffer = nullptr;
  int Size = 0;
  int64_t Duration = 0;  // µs
};

// Seek flags, the same bits as the library's AVSEEK_FLAG_*.
enum TSeekFlag : int { sfBackward = 1, sfByte = 2, sfAny = 4, sfFrame = 8 };
using TSeekFlags = int;

class TFFDecoder : public TCustomDecoder {
 public:
  explicit TFFDecoder(TObject* AOwner = nullptr);
  ~TFFDecoder() override;

  void CloseFile() override;

  // APTS in µs from the start of the file (bytes with sfByte).
  bool Seek(int64_t APTS, TSeekFlags ASeekFlags = 0);
  // AStreamIndex -1: the stream being decoded, else the first of the kind.
  bool Decode(int AStreamIndex = -1);
  bool DecodeNextKeyFrame(int AStreamIndex = -1);
  bool DecodePreviousFrame(int AStreamIndex = -1);
  bool DecodePreviousKeyFrame(int AStreamIndex = -1);
  bool CopyToBitmap(TBitmap& ABitmap);
  // The converted picture's description, or null (with LastErrMsg).
  const TDIBInfo* GetBitmapPtr();

  bool DecodeAudio(int AStreamIndex = -1);
  // Copies up to ACount bytes of PCM into ABuffer, decoding the next block
  // when the last one is used up; -1 when none can be decoded. With a null
  // buffer nothing is consumed and the count that would be copied returned.
  int ReadAudio(uint8_t* ABuffer, int ACount, int AStreamIndex = -1);

  // The input's current byte position, or -1.
  int64_t Position();

  bool Eof() const { return FEOF; }
  const TFrameInfo& FrameInfo() const { return FPicture; }
  const TWaveInfo& WaveInfo() const { return FWaveInfo; }

  int BitmapBitsPixel() const { return FFormatConv.BitsPixel(); }
  void SetBitmapBitsPixel(int AValue) { FFormatConv.SetBitsPixel(AValue); }
  bool Deinterlace() const { return FDeinterlace; }
  void SetDeinterlace(bool AValue) { FDeinterlace = AValue; }

  // The PCM DecodeAudio delivers (default 2 channels, 44100 Hz, signed
  // 16-bit). Mono to stereo copies the channel; stereo to mono averages.
  int DesireAudioChannels() const { return FDesireAudioChannels; }
  void SetDesireAudioChannels(int AValue);
  int DesireAudioSampleRate() const { return FDesireAudioSampleRate; }
  void SetDesireAudioSampleRate(int AValue);
  // A planar format is delivered in its interleaved form.
  AVSampleFormat DesireAudioSampleFormat() const { return FDesireAudioSampleFormat; }
  void SetDesireAudioSampleFormat(AVSampleFormat AValue);

 protected:
  void UpdateFileInfo() override;

 private:
  using CodecPtr = TCodecContextPtr;
  using PacketPtr = TPacketPtr;
  using FramePtr = TFramePtr;
  using SwrPtr = TSwrPtr;
  using BufferPtr = TAVBufferPtr;

  // Resets every decoding state and closes both codecs.
  void ResetDecoding();
  void ClearFrame();
  void ClearWave();
  void DropResampler();
  // An owned context: else "file not loaded." (false) or, attached, throws.
  bool CheckOwnedFile();
  int SelectStream(int AStreamIndex, AVMediaType AType, int& ACurrent, int AFirst, const char* AKind);
  bool OpenCodec(int AIndex, CodecPtr& ACodec, int& ACodecIndex, bool& ADraining, bool ACheckSize);
  bool IsStillImage() const;
  int64_t IOPosition() const;
  int64_t FrameDuration(int AIndex) const;
  // Stream time (its time base) to µs from the stream start.
  int64_t StreamTimeToMicro(int AIndex, int64_t ATime) const;
  // Reads the next packet into FPacket; on failure reports and returns the
  // code, with *AEnd set when the input is at its end.
  int ReadPacket(bool* AEnd);
  bool FeedCodec(AVCodecContext* ACodec, int AStreamIndex, bool& ADraining);
  int64_t ReferencePTS(int AIndex) const;
  void EndOfStream();
  bool FillFrame(int AIndex, const AVFrame& AFrame, int64_t APosition);
  bool AppendAudio(const AVFrame& AFrame);
  bool FlushResampler();
  bool GrowAudioBlock(size_t ABytes);
  void FinishWave(int AIndex, int64_t ADts, int64_t APts, int64_t ATime);
  bool DecodePreviousKeyFrameFrom(int AIndex, int64_t AReference);

  CodecPtr FCodec;       // the open video decoder
  int FCodecIndex = -1;  // its stream
  CodecPtr FAudioCodec;  // the open audio decoder
  int FAudioCodecIndex = -1;
  bool FVideoDraining = false;  // the video decoder was told the input ended
  bool FAudioDraining = false;
  PacketPtr FPacket;
  FramePtr FFrame;

  TFormatConverter FFormatConv;
  int FSeekIndex = -1;
  int64_t FStartTime = 0;  // of the seek stream, in its time base (µs without one)
  int FDecodeIndex = -1;
  int FDesireAudioIndex = -1;
  bool FDeinterlace = false;
  bool FEOF = false;

  TFrameInfo FPicture;
  BufferPtr FPictureBuffer;  // only grows
  size_t FPictureBufferSize = 0;
  int64_t FLastPTS = AV_NOPTS_VALUE;
  int64_t FLastPos = -1;

  TWaveInfo FWaveInfo;
  int FDesireAudioChannels = 2;
  int FDesireAudioSampleRate = 44100;
  AVSampleFormat FDesireAudioSampleFormat = AV_SAMPLE_FMT_S16;
  BufferPtr FAudioBlock;  // the decoded block in the output format; only grows
  size_t FAudioBlockCapacity = 0;
  size_t FAudioBlockSize = 0;
  int FRemainsAudioSize = 0;
  // The converter of the decoded samples and what it was made for.
  SwrPtr FAudioResampler;
  int FResamplerInFormat = -1;
  int FResamplerInRate = 0;
  AVChannelLayout FResamplerInLayout{};
  bool FResamplerChangesRate = false;
};

}  // namespace quorvel
