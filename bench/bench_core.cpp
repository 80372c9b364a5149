// Times the core's reading and writing of a tree, and the two tree entry points, in a C++ loop
// (no interpreter in between), so that changes to the reader and the writer can be measured on
// their own.
//
//     bench_core OLD.json [NEW.json [PATCH.json]] [--runs N]
//
// Prints the best time of N runs (default 200) for: reading OLD as a tree, writing it back,
// apply_json(OLD, no operations), frame encoding and decoding of OLD (MessagePack, and decoding
// with the JSON codec), apply_json(OLD, PATCH) and diff_json(OLD, NEW) when given.
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

  if (files.size() >= 3) {
    std::string patch = load(files[2]);
    double t = best_ms(runs, [&] {
      if (!velmor::apply_json(old_text, patch)) std::abort();
    });
    report("apply", t, n);
  }
  if (files.size() >= 2) {
    std::string new_text = load(files[1]);
    double t = best_ms(runs, [&] {
      if (!velmor::diff_json(old_text, new_text)) std::abort();
    });
    report("diff", t, n + new_text.size());
  }
  return 0;
}
