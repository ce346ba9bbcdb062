// Plays voice through the real DirectSound of a private sound server, for the playback script:
//   voice_play_probe play MARKS    15 GSM chunks of a 1000 Hz tone, one every 200 ms, into a
//                                  member's buffer; then fills the sound output up to its
//                                  last buffer. MARKS gets the Unix times (ms) of the first and
//                                  the last chunk.
//   voice_play_probe nodevice      no server: the object is made, SetData is refused.
//   voice_play_probe capture MARKS SECONDS
//                                  the capture master on the real microphone, recording for
//                                  SECONDS, its packets played by a second voice manager as
//                                  member "T1"; MARKS gets one line per packet: Unix ms, size.
// Exit 0 when every step went as expected; what went wrong is printed.
#include "CHvxc.h"
#include "CHvxcOut.h"
#include "CSoundOut.h"
#include "CTrace.h"
#include "CVoiceManager.h"
#include "INotifier.h"

#include <windows.h>

#include <cmath>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

namespace {

long long unixMs()
{
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    ULARGE_INTEGER t;
    t.LowPart = now.dwLowDateTime;
    t.HighPart = now.dwHighDateTime;
    return (long long)(t.QuadPart / 10000) - 11644473600000LL;
}

HWND makeWindow()
{
    return CreateWindowExA(0, "STATIC", "voice probe", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                           GetModuleHandleA(nullptr), nullptr);
}

// GSM chunks of a continuous 1000 Hz tone, amplitude 8000, at 11025 Hz.
std::vector<std::vector<unsigned char>> toneChunks(int count)
{
    CHvxc encoder;
    std::vector<std::vector<unsigned char>> chunks;
    if (encoder.OpenEncoder(4410) != S_OK)
        return chunks;
    std::vector<short> pcm(2205);
    for (int c = 0; c < count; ++c) {
        for (int i = 0; i < 2205; ++i) {
            const double t = double(c * 2205 + i) / 11025;
            pcm[i] = short(std::lround(8000 * std::sin(2 * 3.14159265358979323846 * 1000 * t)));
        }
        if (encoder.SetEncoderInput(pcm.data(), 4410) != S_OK || encoder.Convert() != S_OK)
            return {};
        const unsigned char* out = nullptr;
        size_t length = 0;
        encoder.GetEncoderOutput(&out, &length);
        chunks.emplace_back(out, out + length);
    }
    return chunks;
}

int play(const char* marks)
{
    auto chunks = toneChunks(15);
    if (chunks.size() != 15) {
        std::printf("encoding failed\n");
        return 1;
    }
    HWND window = makeWindow();
    CHvxcOut out(window);
    CSoundOut* sound = out.soundOut();
    if (!sound->hasDevice()) {
        std::printf("no sound device\n");
        return 1;
    }
    int id = -1;
    if (out.AddBuffer(&id) != S_OK || id != 1) {
        std::printf("AddBuffer gave id %d\n", id);
        return 1;
    }
    Sleep(1500); // silence on the recording before the first chunk
    timeBeginPeriod(1);
    const long long first = unixMs();
    long long last = first;
    int failures = 0;
    for (int c = 0; c < 15; ++c) {
        const long long due = first + 200LL * c;
        while (unixMs() < due)
            Sleep(1);
        last = unixMs();
        if (out.SetData(chunks[c].data(), DWORD(chunks[c].size()), id) != S_OK)
            ++failures;
    }
    timeEndPeriod(1);
    FILE* f = std::fopen(marks, "w");
    if (f != nullptr) {
        std::fprintf(f, "%lld %lld\n", first, last);
        std::fclose(f);
    }
    Sleep(1500); // silence after the last chunk
    int made = 2;
    while (out.AddBuffer(&id) == S_OK)
        ++made;
    int playing = 0;
    for (int b = 0; b < sound->bufferCount(); ++b)
        playing += sound->isPlaying(b) ? 1 : 0;
    std::printf("chunks refused %d, buffers made %d, playing %d\n", failures, made, playing);
    DestroyWindow(window);
    return failures == 0 && made == 63 && playing == 63 ? 0 : 1;
}

int noDevice()
{
    HWND window = makeWindow();
    CHvxcOut out(window);
    int id = -1;
    const HRESULT added = out.AddBuffer(&id);
    std::vector<unsigned char> gsm(325, 0);
    const HRESULT set = out.SetData(gsm.data(), 325, 0);
    std::printf("device %d, AddBuffer 0x%08lX, SetData 0x%08lX\n", out.soundOut()->hasDevice() ? 1 : 0,
                (unsigned long)added, (unsigned long)set);
    DestroyWindow(window);
    return !out.soundOut()->hasDevice() && added == E_FAIL && set == E_FAIL ? 0 : 1;
}

// Hands every packet to the receiving manager as member "T1", noting when it left.
class Loopback : public INotifier {
public:
    explicit Loopback(CVoiceManager& receiver) : receiver_(receiver) {}
    void tell(const std::string&) override {}
    void tell(const unsigned char* data, size_t size) override
    {
        {
            std::lock_guard<std::mutex> guard(lock_);
            marks_.push_back(std::to_string(unixMs()) + " " + std::to_string(size));
        }
        receiver_.play("T1", data, size);
    }
    std::vector<std::string> marks()
    {
        std::lock_guard<std::mutex> guard(lock_);
        return marks_;
    }

private:
    CVoiceManager& receiver_;
    std::mutex lock_;
    std::vector<std::string> marks_;
};

int capture(const char* marks, int seconds)
{
    CVoiceManager receiver(nullptr);
    receiver.setName("T1", "T1");
    Loopback loopback(receiver);
    std::vector<std::string> sent;
    {
        CVoiceManager sender(&loopback);
        sender.startRecording();
        std::printf("recording from %lld\n", unixMs());
        std::fflush(stdout);
        Sleep(DWORD(seconds) * 1000);
        sender.stopRecording();
        sent = loopback.marks();
    }
    FILE* f = std::fopen(marks, "w");
    if (f == nullptr)
        return 1;
    for (const auto& line : sent)
        std::fprintf(f, "%s\n", line.c_str());
    std::fclose(f);
    std::printf("%u packets\n", unsigned(sent.size()));
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 3 && std::strcmp(argv[1], "play") == 0)
        return play(argv[2]);
    if (argc == 4 && std::strcmp(argv[1], "capture") == 0)
        return capture(argv[2], std::atoi(argv[3]));
    if (argc == 2 && std::strcmp(argv[1], "nodevice") == 0)
        return noDevice();
    std::printf("usage: voice_play_probe play MARKS | nodevice\n");
    return 2;
}
