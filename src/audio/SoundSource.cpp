#include "SoundSource.h"

#include <mpg123.h>
#include <sndfile.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <vector>

#include "AtomicFile.h"
#include "WavParser.h"

namespace tw {
namespace {

class FileHandle {
  public:
    explicit FileHandle(int fd) : fd_(fd) {}
    ~FileHandle() {
        if (fd_ >= 0) ::close(fd_);
    }
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;
    int get() const { return fd_; }
    int release() {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }

  private:
    int fd_;
};

class WavSource : public SoundSource {
  public:
    WavSource(int fd, const WavInfo& info) : fd_(fd), offset_(info.dataOffset) {
        format_ = info.format;
        frames_ = info.dataSize / info.format.blockAlign();
    }
    int64_t Read(uint8_t* dest, int64_t maxFrames) override {
        const uint64_t align = format_.blockAlign();
        const uint64_t frames = std::min<uint64_t>(static_cast<uint64_t>(maxFrames), frames_ - at_);
        uint64_t got = 0;  // bytes
        const uint64_t want = frames * align;
        while (got < want) {
            const ssize_t n = ::pread(fd_.get(), dest + got, want - got,
                                      static_cast<off_t>(offset_ + at_ * align + got));
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) {
                problem_ = std::strerror(errno);
                return -1;
            }
            if (n == 0) break;
            got += static_cast<uint64_t>(n);
        }
        if (got < want) problem_ = "the file ends before its samples do";
        at_ += got / align;
        return static_cast<int64_t>(got / align);
    }
    bool Rewind() override {
        at_ = 0;
        return true;
    }

  private:
    FileHandle fd_;
    uint64_t offset_;
    uint64_t at_ = 0;  // next frame
};

// An MP3 file as libmpg123 reads it: through a buffer, so that each frame's header
// and body are not each a system call (a scan alone would make two per frame).
class BufferedFile {
  public:
    explicit BufferedFile(int fd) : fd_(fd), buffer_(64 * 1024) {}
    static mpg123_ssize_t Read(void* handle, void* dest, size_t bytes) {
        return static_cast<BufferedFile*>(handle)->Read(static_cast<uint8_t*>(dest), bytes);
    }
    static off_t Seek(void* handle, off_t offset, int whence) {
        return static_cast<BufferedFile*>(handle)->Seek(offset, whence);
    }

  private:
    // The descriptor always stands at start_ + filled_.
    mpg123_ssize_t Read(uint8_t* dest, size_t bytes) {
        size_t done = 0;
        while (done < bytes) {
            if (at_ == filled_) {
                start_ += static_cast<off_t>(filled_);
                at_ = filled_ = 0;
                const ssize_t n = ::read(fd_.get(), buffer_.data(), buffer_.size());
                if (n < 0 && errno == EINTR) continue;
                if (n < 0) return done ? static_cast<mpg123_ssize_t>(done) : -1;
                if (n == 0) break;
                filled_ = static_cast<size_t>(n);
            }
            const size_t n = std::min(bytes - done, filled_ - at_);
            std::memcpy(dest + done, buffer_.data() + at_, n);
            at_ += n;
            done += n;
        }
        return static_cast<mpg123_ssize_t>(done);
    }
    off_t Seek(off_t offset, int whence) {
        off_t target = offset;
        if (whence == SEEK_CUR) {
            target = start_ + static_cast<off_t>(at_) + offset;
        } else if (whence == SEEK_END) {
            struct stat st {};
            if (::fstat(fd_.get(), &st) != 0) return -1;
            target = st.st_size + offset;
        } else if (whence != SEEK_SET) {
            return -1;
        }
        if (target < 0) return -1;
        // Within what is buffered (skipping a frame's body, mostly): no system call.
        if (target >= start_ && target <= start_ + static_cast<off_t>(filled_)) {
            at_ = static_cast<size_t>(target - start_);
            return target;
        }
        if (::lseek(fd_.get(), target, SEEK_SET) < 0) return -1;
        start_ = target;
        at_ = filled_ = 0;
        return target;
    }

    FileHandle fd_;
    std::vector<uint8_t> buffer_;
    off_t start_ = 0;  // where in the file the buffer starts
    size_t filled_ = 0;
    size_t at_ = 0;
};

// A WAV the parser above does not take (G.711 u-law or A-law, RF64) as
// libsndfile decodes it: 16-bit PCM, read a block at a time.
class SndfileSource : public SoundSource {
  public:
    SndfileSource(int fd, SNDFILE* file, const SF_INFO& info) : fd_(fd), file_(file) {
        format_.formatTag = kFormatPcm;
        format_.channels = static_cast<uint16_t>(info.channels);
        format_.samplesPerSec = static_cast<uint32_t>(info.samplerate);
        format_.bitsPerSample = 16;
        frames_ = static_cast<uint64_t>(info.frames);
    }
    ~SndfileSource() override { sf_close(file_); }
    int64_t Read(uint8_t* dest, int64_t maxFrames) override {
        const int64_t want = std::min<int64_t>(maxFrames, static_cast<int64_t>(frames_ - at_));
        block_.resize(static_cast<size_t>(std::max<int64_t>(want, 0)) * format_.channels);
        const sf_count_t got = want > 0 ? sf_readf_short(file_, block_.data(), want) : 0;
        if (got < 0) {
            problem_ = sf_strerror(file_);
            return -1;
        }
        std::memcpy(dest, block_.data(), static_cast<size_t>(got) * format_.blockAlign());
        if (got < want) problem_ = "the file ends before its samples do";
        at_ += static_cast<uint64_t>(got);
        return got;
    }
    bool Rewind() override {
        if (sf_seek(file_, 0, SEEK_SET) < 0) return false;
        at_ = 0;
        problem_.clear();
        return true;
    }

  private:
    FileHandle fd_;  // closed after libsndfile let go of it
    SNDFILE* file_;
    uint64_t at_ = 0;
    std::vector<short> block_;  // decoded samples on their way to the ring
};

// Whether libsndfile can read `fd` as a WAV-family file Tonewell plays: u-law,
// A-law or PCM in WAV, WAVE_FORMAT_EXTENSIBLE, RF64 or Wave64.
SourceResult OpenWithSndfile(int fd, std::unique_ptr<SoundSource>& out) {
    SF_INFO info{};
    SNDFILE* file = sf_open_fd(fd, SFM_READ, &info, 0);
    if (!file) return SourceResult::NotASound;
    const int container = info.format & SF_FORMAT_TYPEMASK;
    const int coding = info.format & SF_FORMAT_SUBMASK;
    // A RIFF WAV in PCM or float that the parser refused is refused here too
    // (libsndfile forgives headers that are plainly wrong); only G.711 in it is
    // new. RF64 and Wave64 carry any of them.
    const bool law = coding == SF_FORMAT_ULAW || coding == SF_FORMAT_ALAW;
    const bool riff = container == SF_FORMAT_WAV || container == SF_FORMAT_WAVEX;
    const bool wide = container == SF_FORMAT_RF64 || container == SF_FORMAT_W64;
    const bool wav = riff || wide;
    const bool coded = law || (wide && (coding == SF_FORMAT_PCM_U8 || coding == SF_FORMAT_PCM_16 ||
                                        coding == SF_FORMAT_PCM_24 || coding == SF_FORMAT_PCM_32 ||
                                        coding == SF_FORMAT_FLOAT));
    WaveFormat shape;
    shape.channels = static_cast<uint16_t>(std::clamp(info.channels, 0, 0xFFFF));
    shape.samplesPerSec = static_cast<uint32_t>(std::max(info.samplerate, 0));
    if (!wav || !coded || info.frames <= 0 || info.channels > 32 || !shape.IsPlayable()) {
        sf_close(file);
        return SourceResult::NotASound;
    }
    out = std::make_unique<SndfileSource>(fd, file, info);
    return SourceResult::Ok;
}

struct Mpg123Deleter {
    void operator()(mpg123_handle* h) const {
        mpg123_close(h);
        mpg123_delete(h);
    }
};
using Mpg123Handle = std::unique_ptr<mpg123_handle, Mpg123Deleter>;

class Mp3Source : public SoundSource {
  public:
    Mp3Source(std::unique_ptr<BufferedFile> file, Mpg123Handle handle, long rate, int channels,
              uint64_t frames)
        : file_(std::move(file)), mh_(std::move(handle)) {
        format_.formatTag = kFormatPcm;
        format_.channels = static_cast<uint16_t>(channels);
        format_.samplesPerSec = static_cast<uint32_t>(rate);
        format_.bitsPerSample = 16;
        frames_ = frames;
    }
    int64_t Read(uint8_t* dest, int64_t maxFrames) override {
        const size_t align = format_.blockAlign();
        const uint64_t frames = std::min<uint64_t>(static_cast<uint64_t>(maxFrames), frames_ - at_);
        size_t got = 0;
        // libmpg123 hands out whole decoded frames; a part frame stays with it.
        while (got < frames * align && !done_) {
            size_t n = 0;
            const int r = mpg123_read(mh_.get(), dest + got, frames * align - got, &n);
            got += n;
            if (r == MPG123_DONE) {
                done_ = true;
            } else if (r != MPG123_OK && r != MPG123_NEW_FORMAT) {
                // A damaged stream keeps what came before the damage.
                problem_ = mpg123_plain_strerror(r);
                done_ = true;
            } else if (n == 0 && r == MPG123_OK) {
                done_ = true;  // nothing more, yet no end said: do not spin
            }
        }
        if (done_ && at_ + got / align < frames_ && problem_.empty())
            problem_ = "the file ends before its samples do";
        at_ += got / align;
        return static_cast<int64_t>(got / align);
    }
    bool Rewind() override {
        if (mpg123_seek(mh_.get(), 0, SEEK_SET) < 0) return false;
        at_ = 0;
        done_ = false;
        problem_.clear();
        return true;
    }

  private:
    std::unique_ptr<BufferedFile> file_;  // closed after the handle, which reads it
    Mpg123Handle mh_;
    uint64_t at_ = 0;
    bool done_ = false;
};

// Only 16-bit output at `rate` (every rate when 0), mono when asked, else in the
// file's channel count.
void AllowFormats(mpg123_handle* mh, long rate, bool mono) {
    mpg123_format_none(mh);
    const int channels = mono ? MPG123_MONO : MPG123_MONO | MPG123_STEREO;
    if (rate) {
        mpg123_format(mh, rate, channels, MPG123_ENC_SIGNED_16);
        return;
    }
    const long* rates = nullptr;
    size_t count = 0;
    mpg123_rates(&rates, &count);
    for (size_t i = 0; i < count; ++i) mpg123_format(mh, rates[i], channels, MPG123_ENC_SIGNED_16);
}

}  // namespace

SourceResult OpenWavSource(const std::string& nativePath, std::unique_ptr<SoundSource>& out,
                           uint64_t& fileBytes, uint64_t& dataOffset) {
    const int fd = OpenRegularFile(nativePath);
    if (fd < 0) return SourceResult::Missing;
    FileHandle file(fd);
    struct stat st {};
    if (::fstat(fd, &st) != 0 || st.st_size <= 0) return SourceResult::Missing;
    const uint64_t size = static_cast<uint64_t>(st.st_size);
    void* map = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
    if (map == MAP_FAILED) return SourceResult::NotASound;
    WavInfo info;
    const bool isSound = ParseWav(static_cast<const uint8_t*>(map), size, info);
    ::munmap(map, size);
    if (!isSound || !info.format.IsPlayable()) {
        // Phone prompts (G.711) and RF64 are decoded by libsndfile.
        if (::lseek(fd, 0, SEEK_SET) != 0) return SourceResult::NotASound;
        const SourceResult decoded = OpenWithSndfile(fd, out);
        if (decoded != SourceResult::Ok) return decoded;
        file.release();
        fileBytes = 44 + out->frames() * out->format().blockAlign();
        dataOffset = 44;
        return SourceResult::Ok;
    }
    fileBytes = size;
    dataOffset = info.dataOffset;
    out = std::make_unique<WavSource>(file.release(), info);
    return SourceResult::Ok;
}

SourceResult OpenMp3Source(const std::string& nativePath, std::unique_ptr<SoundSource>& out,
                           long rate, bool mono) {
    static std::once_flag once;
    std::call_once(once, [] { mpg123_init(); });
    const int fd = OpenRegularFile(nativePath);
    if (fd < 0) return SourceResult::Missing;
    auto file = std::make_unique<BufferedFile>(fd);
    int err = MPG123_OK;
    Mpg123Handle mh(mpg123_new(nullptr, &err));
    if (!mh) return SourceResult::NoAudio;
    // Mixed to mono by the decoder, which then synthesizes one channel, not two.
    mpg123_param(mh.get(), MPG123_ADD_FLAGS, MPG123_QUIET | (mono ? MPG123_MONO_MIX : 0), 0);
    // Damage of any length in the middle (a bad sector, a cut download) is skipped
    // to the next good frame, as other players do, instead of ending the track.
    mpg123_param(mh.get(), MPG123_RESYNC_LIMIT, -1, 0);
    AllowFormats(mh.get(), rate, mono);
    if (mpg123_replace_reader_handle(mh.get(), BufferedFile::Read, BufferedFile::Seek, nullptr) !=
            MPG123_OK ||
        mpg123_open_handle(mh.get(), file.get()) != MPG123_OK)
        return SourceResult::NoAudio;
    long actualRate = 0;
    int channels = 0, encoding = 0;
    if (mpg123_getformat(mh.get(), &actualRate, &channels, &encoding) != MPG123_OK) {
        // This libmpg123 cannot convert to `rate`: decode at the stream's own.
        if (rate == 0) return SourceResult::NoAudio;
        mh.reset();
        return OpenMp3Source(nativePath, out, 0, mono);
    }
    // Keep the first format: a stream that changes it midway is unusual, and the
    // mixer plays one format per sound.
    mpg123_format_none(mh.get());
    mpg123_format(mh.get(), actualRate, channels, encoding);
    // The frame headers, not what a header claims: a file that promises an hour
    // and holds two seconds is two seconds long.
    if (mpg123_scan(mh.get()) != MPG123_OK) return SourceResult::NoAudio;
    const off_t length = mpg123_length(mh.get());
    if (length <= 0) return SourceResult::NoAudio;
    if (mpg123_seek(mh.get(), 0, SEEK_SET) < 0) return SourceResult::NoAudio;
    out = std::make_unique<Mp3Source>(std::move(file), std::move(mh), actualRate, channels,
                                      static_cast<uint64_t>(length));
    return SourceResult::Ok;
}

}  // namespace tw
