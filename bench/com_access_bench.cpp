// The cost of one member call by name, beside a same-run baseline: the same member invoked
// through the runtime with a binding made once, and the member's body called directly. The
// difference is what a lookup by name, argument conversion and result conversion add per call.
#include <benchmark/benchmark.h>

#include "support/com_access.h"
#include "support/threads.h"

namespace mf {
namespace {

namespace p = platform;

class Counter : public p::DispatchObject {
 public:
  Counter() : DispatchObject(Type()) {}

  static std::shared_ptr<const p::TypeInfo> Type() {
    static const auto type =
        p::TypeInfoBuilder<Counter>("ICounter")
            .Get("Count", {}, p::VT_I4,
                 [](Counter& self, p::CallArgs&, p::Variant& result) {
                   result = p::Variant::FromInt32(self.Count());
                   return p::S_OK;
                 })
            .Get("Item", {p::VT_I4}, p::VT_BSTR,
                 [](Counter&, p::CallArgs& args, p::Variant& result) {
                   result = p::Variant::FromString(args[0].AsInt32() % 2 == 0 ? u"even" : u"odd");
                   return p::S_OK;
                 })
            .Build();
    return type;
  }

  std::int32_t Count() { return ++count_; }

 private:
  std::int32_t count_ = 0;
};

void ByName(benchmark::State& state) {
  ComApartmentScope apartment;
  ComObject counter(std::make_shared<Counter>());
  const Text name("Count");
  for (auto _ : state) {
    benchmark::DoNotOptimize(ComGetNumberProperty(counter, name));
  }
}
BENCHMARK(ByName);

void ByNameWithIndexToText(benchmark::State& state) {
  ComApartmentScope apartment;
  ComObject counter(std::make_shared<Counter>());
  const Text name("Item");
  double index = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(ComGetTextProperty(counter, name, index));
    index += 1;
  }
}
BENCHMARK(ByNameWithIndexToText);

void BoundOnce(benchmark::State& state) {
  ComApartmentScope apartment;
  auto counter = std::make_shared<Counter>();
  const p::MemberDesc* member = Counter::Type()->Bind(u"Count", p::DISPATCH_PROPERTYGET).member;
  for (auto _ : state) {
    p::DispParams params;
    p::Variant result;
    counter->Invoke(member->id, p::LOCALE_USER_DEFAULT, p::DISPATCH_PROPERTYGET, params, &result,
                    nullptr);
    benchmark::DoNotOptimize(result);
  }
}
BENCHMARK(BoundOnce);

void Direct(benchmark::State& state) {
  Counter counter;
  for (auto _ : state) {
    benchmark::DoNotOptimize(counter.Count());
  }
}
BENCHMARK(Direct);

}  // namespace
}  // namespace mf
