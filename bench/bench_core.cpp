// Times the core's reading and writing of a tree, and the two tree entry points, in a C++ loop
// (no interpreter in between), so that changes to the reader and the writer can be measured on
// their own.
//
//     bench_core OLD.json [NEW.json [PATCH.json]] [--runs N]
//
// Prints the best time of N runs (default 200) for: reading OLD as a tree, writing it back,
// apply_json(OLD, no operations), frame encoding and decoding of OLD (MessagePack, and decoding
// with the JSON codec), apply_json(OLD, PATCH) and diff_json(OLD, NEW) when given.
//
// Built with VELMOR_BENCH_ANCHOR (CMake defines it where libsimdjson-dev is installed), it also
// times simdjson's DOM parse of the same texts, a generic native parser taken as the yardstick,
// and prints each of the times above as a multiple of parsing the text(s) that call reads.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "arena.hpp"
#include "call.hpp"
#include "json/writer.hpp"
#include "model/node.hpp"
#include "velmor.hpp"

#ifdef VELMOR_BENCH_ANCHOR
#include <simdjson.h>
#endif

namespace {

std::string load(const char* path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "cannot read %s\n", path);
    std::exit(2);
  }
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

template <class F>
double best_ms(int runs, F&& f) {
  double best = 1e30;
  for (int i = 0; i < runs; ++i) {
    auto t0 = std::chrono::steady_clock::now();
    f();
    auto t1 = std::chrono::steady_clock::now();
    best = std::min(best, std::chrono::duration<double, std::milli>(t1 - t0).count());
  }
  return best;
}

void report(const char* what, double ms, std::size_t bytes) {
  std::printf("%-28s %9.3f ms  %7.0f MB/s\n", what, ms, bytes / ms / 1e3);
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<const char*> files;
  int runs = 200;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--runs" && i + 1 < argc) {
      runs = std::atoi(argv[++i]);
    } else {
      files.push_back(argv[i]);
    }
  }
  if (files.empty()) {
    std::fprintf(stderr, "usage: bench_core OLD.json [NEW.json [PATCH.json]] [--runs N]\n");
    return 2;
  }
  std::string old_text = load(files[0]);
  std::size_t n = old_text.size();

  double t_read = best_ms(runs, [&] {
    velmor::Arena arena(n / 2 * 5);
    velmor::Node root;
    velmor::Error error;
    if (!velmor::read_text(old_text, arena, root, error, velmor::read_node_text)) std::abort();
  });
  report("read tree", t_read, n);

  double t_skip = best_ms(runs, [&] {
    velmor::Arena arena;
    velmor::json::Reader r(old_text, arena);
    r.skip_value();
  });
  report("skip tree (syntax only)", t_skip, n);

  double t_value = best_ms(runs, [&] {
    velmor::Arena arena(n / 2 * 5);
    velmor::json::Value v;
    velmor::Error error;
    auto read = [](velmor::json::Reader& r) { return velmor::json::read_value(r); };
    if (!velmor::read_text(old_text, arena, v, error, read)) std::abort();
  });
  report("read as a generic value", t_value, n);

  velmor::Arena arena(n / 2 * 5);
  velmor::Node root;
  velmor::Error error;
  if (!velmor::read_text(old_text, arena, root, error, velmor::read_node_text)) {
    std::fprintf(stderr, "%s\n", error.render().c_str());
    return 1;
  }
  std::size_t out_size = 0;
  double t_write = best_ms(runs, [&] {
    velmor::json::Out out(n + n / 8);
    velmor::write(out, root);
    out_size = out.size();
  });
  report("write tree", t_write, out_size);

  double t_noop = best_ms(runs, [&] {
    if (!velmor::apply_json(old_text, "{\"ops\":[]}")) std::abort();
  });
  report("apply, no ops", t_noop, n);

  double t_mp = best_ms(runs, [&] {
    if (!velmor::encode_frame(old_text, "m", "snapshot", 1, "application/msgpack")) std::abort();
  });
  report("encode_frame, msgpack", t_mp, n);
  auto frame = velmor::encode_frame(old_text, "m", "snapshot", 1, "application/msgpack");
  double t_mpd = best_ms(runs, [&] {
    if (!velmor::decode_frame(frame.value())) std::abort();
  });
  report("decode_frame, msgpack", t_mpd, frame.value().size());
  auto json_frame = velmor::encode_frame(old_text, "m", "snapshot", 1, "application/json");
  double t_jsd = best_ms(runs, [&] {
    if (!velmor::decode_frame(json_frame.value())) std::abort();
  });
  report("decode_frame, json", t_jsd, n);

  double t_apply = 0;
  if (files.size() >= 3) {
    std::string patch = load(files[2]);
    t_apply = best_ms(runs, [&] {
      if (!velmor::apply_json(old_text, patch)) std::abort();
    });
    report("apply", t_apply, n);
  }
  double t_diff = 0;
  std::string new_text;
  if (files.size() >= 2) {
    new_text = load(files[1]);
    t_diff = best_ms(runs, [&] {
      if (!velmor::diff_json(old_text, new_text)) std::abort();
    });
    report("diff", t_diff, n + new_text.size());
  }

#ifdef VELMOR_BENCH_ANCHOR
  // The parser is reused across runs, as a program that parses many texts would: its buffers
  // are then allocated once, which is the anchor's best case.
  simdjson::dom::parser parser;
  auto anchor = [&](const std::string& text) {
    simdjson::padded_string padded(text);
    return best_ms(runs, [&] {
      simdjson::dom::element doc;
      if (parser.parse(padded).get(doc) != simdjson::SUCCESS) std::abort();
    });
  };
  double a_old = anchor(old_text);
  report("anchor: simdjson parse OLD", a_old, n);
  double a_both = a_old;
  if (!new_text.empty()) {
    double a_new = anchor(new_text);
    report("anchor: simdjson parse NEW", a_new, new_text.size());
    a_both = a_old + a_new;
  }
  auto multiple = [](const char* what, double ms, double base) {
    std::printf("%-28s %9.2fx\n", what, ms / base);
  };
  std::printf("multiples of the anchor (diff: of parsing both texts; the rest: of parsing OLD)\n");
  multiple("x read tree", t_read, a_old);
  multiple("x apply, no ops", t_noop, a_old);
  multiple("x encode_frame, msgpack", t_mp, a_old);
  multiple("x decode_frame, msgpack", t_mpd, a_old);
  multiple("x decode_frame, json", t_jsd, a_old);
  if (files.size() >= 3) multiple("x apply", t_apply, a_old);
  if (files.size() >= 2) multiple("x diff", t_diff, a_both);
#endif
  return 0;
}
