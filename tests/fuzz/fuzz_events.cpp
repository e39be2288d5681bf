// Drives the public handlers with a byte-coded event sequence over a loaded
// table, walking a headless frame after every event.
//
// Input: one byte picks the table, then events, each an opcode byte followed
// by its operands (missing operand bytes read as 0):
//   key        key-index x y        onKey (the key map, both cases, or any byte)
//   special    key-index x y        onSpecialKey
//   button     button+state mods x y onMouseButton (wheel is 3 and 4)
//   drag       mods x y             onMouseDrag
//   hover      x y                  onMouseHover
//   idle       step                 the clock moves on, onIdle
//   reshape    w h                  onReshape
//   reload     table                loadDataFile
//   close                           closeFile
// Positions are two bytes each, spread a little beyond the drawing area.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "app/shell.h"
#include "idle/idle.h"
#include "interaction/interaction.h"
#include "fuzz_support.h"

namespace {

const char* const tables[] = {
    // labelled, categorical last dimension
    "6 4 4 1\nname a b c kind\n"
    "r0 0 5 100 1\nr1 50 50 50 2\nr2 100 100 0 1\nr3 25 75 25 3\nr4 75 25 75 2\nr5 10 90 40 3\n"
    "label kind 3 1 one 2 two 3 three\n",
    // more dimensions than shown, all values equal in one
    "5 6 3 0\nid u v w x y z\n1 7 3 0 1 2\n2 7 1 1 1 3\n3 7 4 0 1 5\n4 7 1 1 1 7\n5 7 5 0 1 11\n",
    // one record, one dimension
    "1 1 1 0 id x 5\n",
    // records without values
    "4 0 0 0 id\n",
    // refused: no plot
    "1 1000 0 0\n",
    // a short file read with zeros
    "8 3 3 0 id p q r 1 2 3 4 5 6\n",
};
constexpr int tableCount = sizeof tables / sizeof tables[0];

const unsigned char keys[] = {'q', 'w', 'b', 'r', 'f', 's', 'z', 'a', 'v', 'm', 'n', 'x', 'c', 'd', '`', 'p'};
const int specialKeys[] = {KeyHome, KeyPageUp, KeyPageDown, KeyEnd, 0xFF51, 0xFF52};

class Input {
public:
    Input(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    bool done() const { return pos_ >= size_; }
    unsigned byte() { return pos_ < size_ ? data_[pos_++] : 0u; }
    unsigned word() { return byte() | (byte() << 8); }
    // A position from -50 to extent + 50 pixels.
    int position(int extent) { return static_cast<int>(word() % static_cast<unsigned>(extent + 101)) - 50; }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t pos_ = 0;
};

struct Harness {
    std::array<fuzz::MemoryFile, tableCount> files;
    double now = 10000.0;
    int modifiers = 0;
    CaptureSink sink;
    RecordPass pass;

    Harness() {
        for (int t = 0; t < tableCount; ++t) files[t].write(tables[t]);
        setClockHook([this] { return now; });
        setModifierHook([this] { return modifiers; });
    }

    void load(unsigned table) {
        if (setDataFileName(files[table % tableCount].path())) loadDataFile();
    }
};

Harness* harness = nullptr;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::quietHooks();
    harness = new Harness;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Harness& h = *harness;
    Input in(data, size);
    h.now = 10000.0;
    h.modifiers = 0;
    onReshape(1180, 500);
    resetInteractionState();
    h.load(in.byte());
    for (int events = 0; !in.done() && events < 400; ++events) {
        const int w = windowWidth > 0 ? windowWidth : 1;
        const int ht = windowHeight > 0 ? windowHeight : 1;
        switch (in.byte() % 10) {
        case 0: {
            const unsigned k = in.byte();
            const unsigned char key = k < 16 ? keys[k] : k < 32 ? static_cast<unsigned char>(keys[k - 16] - 32)
                                                                : static_cast<unsigned char>(k);
            const int x = in.position(w);
            onKey(key, x, in.position(ht));
            break;
        }
        case 1: {
            const unsigned k = in.byte();
            const int key = k < 6 ? specialKeys[k] : static_cast<int>(k);
            const int x = in.position(w);
            onSpecialKey(key, x, in.position(ht));
            break;
        }
        case 2: {
            const unsigned b = in.byte();
            h.modifiers = static_cast<int>(in.byte() & 7u);
            const int x = in.position(w);
            onMouseButton(static_cast<int>(b % 5), static_cast<int>((b / 5) % 2), x, in.position(ht));
            break;
        }
        case 3: {
            h.modifiers = static_cast<int>(in.byte() & 7u);
            const int x = in.position(w);
            onMouseDrag(x, in.position(ht));
            break;
        }
        case 4: {
            const int x = in.position(w);
            onMouseHover(x, in.position(ht));
            break;
        }
        case 5:
            // Steps from a frame's worth to a few seconds, so animations both
            // run and finish.
            h.now += 1.0 + in.byte() * 20.0;
            onIdle();
            break;
        case 6: {
            const int rw = static_cast<int>(in.word() % 2001u);
            onReshape(rw, static_cast<int>(in.word() % 2001u));
            break;
        }
        case 7:
            h.load(in.byte());
            break;
        case 8:
            closeFile(nullptr, nullptr);
            break;
        default:
            h.now += 1.0;  // a double click needs two presses close in time
            break;
        }
        fuzz::checkTable();
        fuzz::walkFrame(h.now, h.sink, h.pass);
    }
    return 0;
}
