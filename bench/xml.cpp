// Parsing and writing XML beside pugixml and libxml2 on the same bytes: a
// property-style page of 1000 shapes with 40 elements each, and one 10 MB
// Base64 value.
#include <benchmark/benchmark.h>

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

void BM_Parse_Kdl(benchmark::State& state) {
  const std::string& bytes = Input(state);
  kdl::TMemoryStream in;
  in.WriteBuffer(bytes.data(), static_cast<std::int64_t>(bytes.size()));
  for (auto _ : state) {
    kdl::TBrenlowXml doc;
    in.Seek(0, kdl::soBeginning);
    doc.LoadFromStream(in);
    benchmark::DoNotOptimize(doc.Root());
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(bytes.size()));
}
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
void BM_Parse_Pugixml(benchmark::State& state) {
  const std::string& bytes = Input(state);
  for (auto _ : state) {
    pugi::xml_document doc;
    benchmark::DoNotOptimize(doc.load_buffer(bytes.data(), bytes.size()));
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(bytes.size()));
}
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
void BM_Parse_Libxml2(benchmark::State& state) {
  const std::string& bytes = Input(state);
  for (auto _ : state) {
    xmlDocPtr doc = xmlReadMemory(bytes.data(), static_cast<int>(bytes.size()), "page.xml", nullptr, XML_PARSE_HUGE);
    benchmark::DoNotOptimize(doc);
    xmlFreeDoc(doc);
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(bytes.size()));
}
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

BENCHMARK_MAIN();
