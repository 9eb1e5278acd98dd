// Parsing and writing XML beside pugixml and libxml2 on the same bytes: a
// property-style page of 1000 shapes with 40 elements each, one 10 MB Base64
// value, and real files that Debian packages ship (tools/packages.txt), each
// as shipped (UTF-8 without byte-order mark) and with a mark put in front.
//
// Every peer decodes entities (pugixml's default flags, libxml2's
// substitution); ours keeps values as they stand and unescapes on access.
// Each parser runs once untimed before its loop, so that the heap has grown
// to its working size: a cold heap costs pugixml page faults worth a factor
// of three and measures the kernel, not the parser. Target: our parse at
// least half of pugixml's throughput on every input.
#include <benchmark/benchmark.h>
#include "BenchMain.h"
#include <malloc.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "foundation/BrenlowXml.h"

#ifdef KDL_HAVE_PUGIXML
#include <pugixml.hpp>
#endif
#ifdef KDL_HAVE_LIBXML2
#include <libxml/parser.h>
#include <libxml/tree.h>
#endif

namespace {

std::string Bytes(kdl::TMemoryStream& s) {
  return std::string(static_cast<const char*>(s.Memory()), static_cast<std::size_t>(s.Size()));
}

void BuildPage(kdl::TBrenlowXml& doc) {
  kdl::TXmlNode* root = doc.Root();
  root->SetName("Page");
  std::mt19937 rng(5);
  std::uniform_real_distribution<double> mm(0, 300);
  for (int s = 0; s < 1000; ++s) {
    kdl::TXmlNode* shape = root->AddNewChild("Shape");
    shape->AddAttribute("Class", "TdtpTextShape");
    for (int p = 0; p < 40; ++p) {
      const std::string name = "Prop" + std::to_string(p);
      switch (p % 4) {
        case 0: shape->WriteFloat(name, static_cast<float>(mm(rng)), -1); break;
        case 1: shape->WriteInteger(name, static_cast<int>(rng() % 100000), -1); break;
        case 2: shape->WriteBool(name, rng() % 2 == 0, false); shape->WriteBool(name, true, false); break;
        default: shape->WriteString(name, "Text \xC3\xA9 & <" + std::to_string(rng() % 1000), ""); break;
      }
    }
  }
}

void BuildBinary(kdl::TBrenlowXml& doc) {
  std::string bytes(7500000, '\0');
  std::mt19937 rng(9);
  for (char& c : bytes) c = static_cast<char>(rng());
  doc.Root()->SetName("Resource");
  doc.Root()->AddNewChild("Data")->SetBinaryString(bytes);
}

struct Sample {
  std::string bytes;
  Sample(bool binary) {
    kdl::SetDocumentLibraryXmlDefaults();
    kdl::TBrenlowXml doc;
    if (binary) BuildBinary(doc);
    else BuildPage(doc);
    kdl::TMemoryStream s;
    doc.SaveToStream(s);
    bytes = Bytes(s);
  }
};

const std::string& PageBytes() {
  static const Sample sample(false);
  return sample.bytes;
}
const std::string& BinaryBytes() {
  static const Sample sample(true);
  return sample.bytes;
}
const std::string& Input(const benchmark::State& state) { return state.range(0) ? BinaryBytes() : PageBytes(); }

// Real files: the shared MIME database (deep, many translations), the
// Vulkan registry (mixed content, ASCII) and the ISO 639-3 language list
// (attributes only).
struct RealFile {
  const char* name;
  const char* path;
};
constexpr RealFile kRealFiles[] = {
    {"mime", "/usr/share/mime/packages/freedesktop.org.xml"},
    {"vulkan", "/usr/share/vulkan/registry/vk.xml"},
    {"iso639", "/usr/share/xml/iso-codes/iso_639-3.xml"},
};

std::string ReadWholeFile(const char* path) {
  std::ifstream f(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}


void KdlParse(benchmark::State& state, const std::string& bytes) {
  kdl::TMemoryStream in;
  in.WriteBuffer(bytes.data(), static_cast<std::int64_t>(bytes.size()));
  auto once = [&] {
    kdl::TBrenlowXml doc;
    in.Seek(0, kdl::soBeginning);
    doc.LoadFromStream(in);
    benchmark::DoNotOptimize(doc.Root());
  };
  once();
  for (auto _ : state) once();
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(bytes.size()));
}
void BM_Parse_Kdl(benchmark::State& state) { KdlParse(state, Input(state)); }
BENCHMARK(BM_Parse_Kdl)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void BM_Write_Kdl(benchmark::State& state) {
  const std::string& bytes = Input(state);
  kdl::TBrenlowXml doc;
  doc.ReadFromString(bytes.substr(3));
  doc.SetUtf8Strings(true);
  doc.SetStreamEncoding(kdl::teUtf8);
  for (auto _ : state) {
    kdl::TMemoryStream out;
    doc.SaveToStream(out);
    benchmark::DoNotOptimize(out.Memory());
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(bytes.size()));
}
BENCHMARK(BM_Write_Kdl)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

#ifdef KDL_HAVE_PUGIXML
void PugixmlParse(benchmark::State& state, const std::string& bytes) {
  auto once = [&] {
    pugi::xml_document doc;
    benchmark::DoNotOptimize(doc.load_buffer(bytes.data(), bytes.size()));
  };
  once();
  for (auto _ : state) once();
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(bytes.size()));
}
void BM_Parse_Pugixml(benchmark::State& state) { PugixmlParse(state, Input(state)); }
BENCHMARK(BM_Parse_Pugixml)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

struct StringWriter : pugi::xml_writer {
  std::string out;
  void write(const void* data, size_t size) override { out.append(static_cast<const char*>(data), size); }
};

void BM_Write_Pugixml(benchmark::State& state) {
  const std::string& bytes = Input(state);
  pugi::xml_document doc;
  doc.load_buffer(bytes.data(), bytes.size());
  for (auto _ : state) {
    StringWriter w;
    doc.save(w, "", pugi::format_raw);
    benchmark::DoNotOptimize(w.out.data());
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(bytes.size()));
}
BENCHMARK(BM_Write_Pugixml)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
#endif

#ifdef KDL_HAVE_LIBXML2
void Libxml2Parse(benchmark::State& state, const std::string& bytes) {
  auto once = [&] {
    xmlDocPtr doc = xmlReadMemory(bytes.data(), static_cast<int>(bytes.size()), "page.xml", nullptr,
                                  XML_PARSE_HUGE | XML_PARSE_NOENT);
    benchmark::DoNotOptimize(doc);
    xmlFreeDoc(doc);
  };
  once();
  for (auto _ : state) once();
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(bytes.size()));
}
void BM_Parse_Libxml2(benchmark::State& state) { Libxml2Parse(state, Input(state)); }
BENCHMARK(BM_Parse_Libxml2)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void BM_Write_Libxml2(benchmark::State& state) {
  const std::string& bytes = Input(state);
  xmlDocPtr doc = xmlReadMemory(bytes.data(), static_cast<int>(bytes.size()), "page.xml", nullptr, XML_PARSE_HUGE);
  for (auto _ : state) {
    xmlChar* out = nullptr;
    int size = 0;
    xmlDocDumpMemoryEnc(doc, &out, &size, "UTF-8");
    benchmark::DoNotOptimize(out);
    xmlFree(out);
  }
  xmlFreeDoc(doc);
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(bytes.size()));
}
BENCHMARK(BM_Write_Libxml2)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
#endif

// Each real file as shipped and with a mark, every parser on the same
// bytes, side by side in the output.
void RegisterRealFiles() {
  static std::vector<std::string> inputs;
  inputs.reserve(2 * std::size(kRealFiles));
  for (const RealFile& file : kRealFiles) {
    if (!std::filesystem::exists(file.path)) continue;
    const std::string bytes = ReadWholeFile(file.path);
    for (const bool mark : {false, true}) {
      inputs.push_back(mark ? "\xEF\xBB\xBF" + bytes : bytes);
      const std::string& in = inputs.back();
      const std::string name = std::string(file.name) + (mark ? "+mark" : "");
      benchmark::RegisterBenchmark(("Real_Kdl/" + name).c_str(), KdlParse, in)->Unit(benchmark::kMillisecond);
#ifdef KDL_HAVE_PUGIXML
      benchmark::RegisterBenchmark(("Real_Pugixml/" + name).c_str(), PugixmlParse, in)
          ->Unit(benchmark::kMillisecond);
#endif
#ifdef KDL_HAVE_LIBXML2
      benchmark::RegisterBenchmark(("Real_Libxml2/" + name).c_str(), Libxml2Parse, in)
          ->Unit(benchmark::kMillisecond);
#endif
    }
  }
}

// ---- Reading every attribute by name ----------------------------------------------
// One element of n attributes, parsed once, then every attribute read by
// name as the document loader does; beside it pugixml walking the same
// attributes in order, the least work that reads every value. Both must grow
// linearly with n (10k against 100k).

struct WideElement {
  std::string text;
  std::vector<std::string> names;
  explicit WideElement(int n) {
    text = "<e";
    for (int i = 0; i < n; ++i) {
      names.push_back("attr" + std::to_string(i));
      text += " " + names.back() + "=\"v" + std::to_string(i) + "\"";
    }
    text += "/>";
  }
};

const WideElement& Wide(int n) {
  static std::map<int, WideElement> elements;
  return elements.try_emplace(n, n).first->second;
}

void BM_AttributesByName_Kdl(benchmark::State& state) {
  const WideElement& e = Wide(static_cast<int>(state.range(0)));
  kdl::TBrenlowXml doc;
  doc.ReadFromString(e.text);
  const kdl::TXmlNode& node = *doc.Root();
  for (auto _ : state)
    for (const auto& name : e.names) benchmark::DoNotOptimize(node.GetAttribute(name));
  state.SetItemsProcessed(state.iterations() * state.range(0));
  state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_AttributesByName_Kdl)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond)
    ->Complexity(benchmark::oN);

#ifdef KDL_HAVE_PUGIXML
void BM_AttributesInOrder_Pugixml(benchmark::State& state) {
  const WideElement& e = Wide(static_cast<int>(state.range(0)));
  pugi::xml_document doc;
  doc.load_buffer(e.text.data(), e.text.size());
  const pugi::xml_node node = doc.first_child();
  for (auto _ : state)
    for (const pugi::xml_attribute a : node.attributes()) benchmark::DoNotOptimize(std::string(a.value()));
  state.SetItemsProcessed(state.iterations() * state.range(0));
  state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_AttributesInOrder_Pugixml)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond)
    ->Complexity(benchmark::oN);
#endif

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  // Keep freed memory in the heap for every parser alike: a tree freed at
  // the end of an iteration would otherwise hand its pages back to the
  // system and the next iteration fault them in again.
  mallopt(M_TRIM_THRESHOLD, 1 << 30);
  mallopt(M_MMAP_THRESHOLD, 1 << 28);
  bench::TProgram program(argc, argv);
  RegisterRealFiles();
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return bench::TProgram::Status();
}
