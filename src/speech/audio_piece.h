#pragma once
// One piece of one text (a job) and its outcome. The job key is the source path as given to
// StartJob. A finished piece (its final attempt recorded) never changes again, so a finished
// piece may be read without the conversion manager's lock.

#include <cstddef>
#include <cstdint>
#include <string>

struct AudioPiece {
    std::string job;
    int count = 0;  // pieces of the job
    int index = 0;  // from 0
    int voice = 0;
    std::string text;            // UTF-8, a quarter of its wide form here; released once finished
    std::uint64_t id = 0;        // unique for the run
    std::string file;            // job folder + "/" + (index + 1) + ".mp3"
    int code = 0;                // of the final attempt: 0 success, -1 failure
    std::string error;           // of the final attempt
    std::size_t audioBytes = 0;  // size of the audio written to `file`; the bytes are not kept
    int attempts = 0;            // starts, plus one when the final outcome is recorded
    bool finished = false;

    bool HasAudio() const { return audioBytes > 0; }
};
