// The external peer of link_bench: the smallest camera there is, on the
// master side of a pseudo-terminal handed over as a descriptor number. ENQ
// is answered with ACK; a command frame with ACK and a reply frame (status
// accepted, the item and the parameter bytes echoed); anything else (the
// tool's ACK after a reply) is taken and dropped. No checks, no pacing: both
// sides of the comparison talk to this same program, so its cost is theirs.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <vector>

#include "link/codec.h"
#include "link/protocol.h"

int main(int argc, char** argv) {
    if (argc < 2) return 2;
    const int fd = std::atoi(argv[1]);
    std::uint8_t in[4096];
    std::vector<std::uint8_t> frame, out;
    for (;;) {
        const ssize_t n = ::read(fd, in, sizeof in);
        if (n <= 0) return 0;  // the bench has gone
        out.clear();
        for (ssize_t i = 0; i < n; ++i) {
            const std::uint8_t b = in[i];
            if (!frame.empty()) {
                frame.push_back(b);
                if (frame.size() < tern::link::kCmdFrameSize) continue;
                tern::link::Payload p;
                p[1] = tern::link::kStatusAccepted;
                p[2] = frame[2];  // the item, the register or sub-item, the address's low byte:
                p[3] = frame[3];  // what a camera's reply names of its command
                p[4] = frame[4];
                frame.clear();
                out.push_back(tern::link::ACK);
                const auto reply = tern::link::BuildStxFrame(p, static_cast<int>(tern::link::kPayloadSize));
                out.insert(out.end(), reply.begin(), reply.end());
            } else if (b == tern::link::STX) {
                frame.assign(1, b);
            } else if (b == tern::link::ENQ) {
                out.push_back(tern::link::ACK);
            }
        }
        for (std::size_t done = 0; done < out.size();) {
            const ssize_t w = ::write(fd, out.data() + done, out.size() - done);
            if (w <= 0) return 0;
            done += static_cast<std::size_t>(w);
        }
    }
}
