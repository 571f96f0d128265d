// Throughput of preparing a text for synthesis: cutting 1 MiB and 10 MiB of mixed Chinese and
// English into pieces (the two must take time in proportion to size), and converting 10 MiB of
// GB18030 to UTF-8. The texts are generated from a fixed seed, so runs compare.

#include "speech/text_loader.h"

#include <benchmark/benchmark.h>
#include <iconv.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <map>
#include <random>
#include <string>
#include <vector>

namespace {

const char* const kHanzi[] = {"天", "气", "很", "好", "我", "们", "去", "公", "园", "散", "步", "今",
                              "年", "的", "书", "文", "本", "语", "音", "合", "成", "测", "试", "中"};
const char* const kWords[] = {"the",    "quick",   "brown", "fox",   "jumps", "over",  "lazy", "dog",
                              "speech", "service", "reads", "every", "piece", "aloud", "with", "care"};

std::string Chinese(std::mt19937& random) {
    std::string sentence;
    const int clauses = 2 + random() % 4;
    for (int c = 0; c < clauses; ++c) {
        const int chars = 4 + random() % 9;
        for (int i = 0; i < chars; ++i)
            sentence += kHanzi[random() % std::size(kHanzi)];
        sentence += c + 1 == clauses ? "。" : random() % 3 ? "，" : "；";
    }
    return sentence;
}

std::string English(std::mt19937& random) {
    std::string sentence = "A";
    const int words = 5 + random() % 11;
    for (int i = 0; i < words; ++i) {
        sentence += ' ';
        sentence += kWords[random() % std::size(kWords)];
    }
    return sentence + ". ";
}

const std::string& MixedText(std::size_t size) {
    static std::map<std::size_t, std::string> texts;
    std::string& text = texts[size];
    if (text.empty()) {
        std::mt19937 random(1000);
        while (text.size() < size) {
            text += random() % 2 ? Chinese(random) : English(random);
            if (random() % 8 == 0)
                text += "\n";
        }
        text.resize(size);
    }
    return text;
}

// At least `size` bytes of GB18030, cut to exactly that.
std::string Gb18030Text(std::size_t size) {
    const std::string& utf8 = MixedText(size * 2);
    std::string out(utf8.size() * 2, '\0');
    const iconv_t cd = ::iconv_open("GB18030", "UTF-8");
    char* in = const_cast<char*>(utf8.data());
    std::size_t inLeft = utf8.size();
    char* outPtr = out.data();
    std::size_t outLeft = out.size();
    ::iconv(cd, &in, &inLeft, &outPtr, &outLeft);
    ::iconv_close(cd);
    out.resize(std::min(size, out.size() - outLeft));
    return out;
}

void BM_SplitText(benchmark::State& state) {
    const std::string& text = MixedText(static_cast<std::size_t>(state.range(0)));
    std::vector<std::string> pieces;
    for (auto _ : state) {
        if (!PubUtils::SplitText(text, pieces))
            state.SkipWithError("text refused");
        benchmark::DoNotOptimize(pieces.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(BM_SplitText)
    ->Arg(1 << 20)
    ->Arg(10 << 20)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

void BM_ToUtf8TextGb18030(benchmark::State& state) {
    const std::string gb = Gb18030Text(static_cast<std::size_t>(state.range(0)));
    std::string text;
    for (auto _ : state) {
        state.PauseTiming();
        text = gb;
        state.ResumeTiming();
        if (!PubUtils::ToUtf8Text(text))
            state.SkipWithError("not converted");
        benchmark::DoNotOptimize(text.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * gb.size()));
}
BENCHMARK(BM_ToUtf8TextGb18030)
    ->Arg(10 << 20)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

}  // namespace

BENCHMARK_MAIN();
