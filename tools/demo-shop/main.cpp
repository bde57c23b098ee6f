// korvani-demo-shop: runs the simulated shop back end and supplier front end
// on 127.0.0.1 until SIGINT or SIGTERM, for trying the tool safely.
#include <pthread.h>
#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>

#include "demo_shop.h"

namespace {

void usage(FILE* to) {
  std::fprintf(to,
               "usage: korvani-demo-shop [--backend-port N] [--supplier-port N] [--catalog FILE] [--directories N]\n"
               "  --backend-port N   port of the shop back end (default 18080)\n"
               "  --supplier-port N  port of the supplier front end (default 18081)\n"
               "  --catalog FILE     the supplier's catalog: a catalog data file, or a whole page (.html)\n"
               "  --directories N    a generated catalog of N main directories instead\n");
}

// An installed shop keeps its pages in share/korvani-dock/demo-shop beside
// bin/. That copy belongs to this program, so it wins over the source tree
// the program was built from, which may still be there and be newer.
std::string installed_data_dir() {
  std::error_code error;
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
  if (error) return {};
  const std::filesystem::path dir = self.parent_path().parent_path() / "share" / "korvani-dock" / "demo-shop";
  return std::filesystem::is_directory(dir, error) ? dir.string() : std::string();
}

bool parse_int(const char* text, int low, int high, int& out) {
  char* end = nullptr;
  long value = std::strtol(text, &end, 10);
  if (!*text || *end || value < low || value > high) return false;
  out = static_cast<int>(value);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  demo_shop::Options options;
  options.backend_port = 18080;
  options.supplier_port = 18081;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "-h" || arg == "--help") {
      usage(stdout);
      return 0;
    }
    if (i + 1 >= argc) {
      std::fprintf(stderr, "korvani-demo-shop: %s needs a value\n", arg.c_str());
      usage(stderr);
      return 2;
    }
    const char* value = argv[++i];
    bool ok = true;
    if (arg == "--backend-port") {
      ok = parse_int(value, 0, 65535, options.backend_port);
    } else if (arg == "--supplier-port") {
      ok = parse_int(value, 0, 65535, options.supplier_port);
    } else if (arg == "--catalog") {
      options.catalog = value;
    } else if (arg == "--directories") {
      ok = parse_int(value, 1, 1000000, options.generated_directories);
    } else {
      std::fprintf(stderr, "korvani-demo-shop: unknown option %s\n", arg.c_str());
      usage(stderr);
      return 2;
    }
    if (!ok) {
      std::fprintf(stderr, "korvani-demo-shop: bad value for %s: %s\n", arg.c_str(), value);
      return 2;
    }
  }

  // Blocked before any thread starts, so every thread inherits the mask and
  // the signals are taken only by sigwait below.
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);

  if (const char* env = std::getenv("KORVANI_DEMO_SHOP_DATA"); !env || !*env) options.data_dir = installed_data_dir();

  demo_shop::DemoShop shop(options);
  if (!shop.start()) {
    std::fprintf(stderr, "korvani-demo-shop: could not start (see above)\n");
    return 1;
  }
  std::printf("Korvani demo shop is running.\n");
  std::printf("  Back end:   %s\n", shop.backend_entry_url().c_str());
  std::printf("              account %s, password %s\n", demo_shop::DemoShop::backend_user,
              demo_shop::DemoShop::backend_password);
  std::printf("  Supplier:   %s\n", shop.supplier_host().c_str());
  std::printf("              account %s, password %s\n", demo_shop::DemoShop::supplier_user,
              demo_shop::DemoShop::supplier_password);
  std::printf("  Version:    %s\n", shop.version_page_url().c_str());
  std::printf("  State:      http://127.0.0.1:%d/demo/state\n", shop.backend_port());
  std::printf("Press Ctrl+C to stop.\n");
  std::fflush(stdout);

  int received = 0;
  sigwait(&signals, &received);
  std::printf("Stopping (%s).\n", received == SIGINT ? "SIGINT" : "SIGTERM");
  shop.stop();
  return 0;
}
