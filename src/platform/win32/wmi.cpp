// Windows backend of the WMI seam: thin forwarding to COM and WMI, VARIANT and BSTR converted
// at the border. A ComRef holds the interface's IUnknown pointer.
#include <windows.h>
// After windows.h, which they build on.
#include <oleauto.h>
#include <wbemidl.h>

#include "platform/os.h"

namespace os {

namespace {

template <typename T>
T* As(const ComRef& ref) {
  return reinterpret_cast<T*>(ref.get());
}

void Store(IUnknown* unknown, ComRef* ref) {
  *ref->put() = reinterpret_cast<std::uintptr_t>(unknown);
}

// A BSTR owned for the length of one call.
class Bstr {
 public:
  explicit Bstr(const wchar_t* text) : bstr_(::SysAllocString(text != nullptr ? text : L"")) {}
  ~Bstr() { ::SysFreeString(bstr_); }
  Bstr(const Bstr&) = delete;
  Bstr& operator=(const Bstr&) = delete;
  BSTR get() const { return bstr_; }
  bool valid() const { return bstr_ != nullptr; }

 private:
  BSTR bstr_;
};

// A VARIANT cleared when it goes out of scope, whatever the way out.
class Variant {
 public:
  Variant() { ::VariantInit(&v_); }
  ~Variant() { Clear(); }
  Variant(const Variant&) = delete;
  Variant& operator=(const Variant&) = delete;
  VARIANT* get() { return &v_; }
  const VARIANT& operator*() const { return v_; }
  void Clear() { ::VariantClear(&v_); }

 private:
  VARIANT v_;
};

WmiValue Convert(const VARIANT& v) {
  WmiValue out;
  switch (V_VT(&v)) {
    case VT_NULL:
      out.kind = WmiValue::Kind::Null;
      break;
    case VT_BSTR:
      out.kind = WmiValue::Kind::Text;
      if (V_BSTR(&v) != nullptr) out.text.assign(V_BSTR(&v), ::SysStringLen(V_BSTR(&v)));
      break;
    case VT_BOOL:
      out.kind = WmiValue::Kind::Bool;
      out.boolean = V_BOOL(&v) != VARIANT_FALSE;
      break;
    case VT_I4:
      out.kind = WmiValue::Kind::Int32;
      out.i32 = V_I4(&v);
      break;
    case VT_UI4:
      out.kind = WmiValue::Kind::Int32;
      out.i32 = static_cast<std::int32_t>(V_UI4(&v));
      break;
    case VT_INT:
      out.kind = WmiValue::Kind::Int32;
      out.i32 = V_INT(&v);
      break;
    case VT_UINT:
      out.kind = WmiValue::Kind::Int32;
      out.i32 = static_cast<std::int32_t>(V_UINT(&v));
      break;
    case VT_I2:
      out.kind = WmiValue::Kind::Int32;
      out.i32 = V_I2(&v);
      break;
    case VT_UI2:
      out.kind = WmiValue::Kind::Int32;
      out.i32 = V_UI2(&v);
      break;
    case VT_I1:
      out.kind = WmiValue::Kind::Int32;
      out.i32 = V_I1(&v);
      break;
    case VT_UI1:
      out.kind = WmiValue::Kind::Int32;
      out.i32 = V_UI1(&v);
      break;
    default:
      out.kind = WmiValue::Kind::Other;
      break;
  }
  return out;
}

}  // namespace

void ComRef::Release() {
  if (ptr_ == 0) return;
  IUnknown* unknown = reinterpret_cast<IUnknown*>(ptr_);
  ptr_ = 0;
  unknown->Release();
}

HResult CoCreateWbemLocator(ComRef* locator) {
  IWbemLocator* p = nullptr;
  const HRESULT hr = ::CoCreateInstance(CLSID_WbemLocator, nullptr, CLSCTX_INPROC_SERVER,
                                        IID_IWbemLocator, reinterpret_cast<void**>(&p));
  Store(p, locator);  // owned here even if a failing call handed one out
  return hr;
}

HResult ConnectServer(const ComRef& locator, const wchar_t* ns, ComRef* services) {
  IWbemLocator* l = As<IWbemLocator>(locator);
  if (l == nullptr) return E_POINTER;
  Bstr space(ns);
  if (!space.valid()) return E_OUTOFMEMORY;
  IWbemServices* p = nullptr;
  const HRESULT hr =
      l->ConnectServer(space.get(), nullptr, nullptr, nullptr, 0, nullptr, nullptr, &p);
  Store(p, services);  // owned here even if a failing call handed one out
  return hr;
}

HResult CoSetProxyBlanket(const ComRef& services, std::uint32_t authnSvc, std::uint32_t authzSvc,
                          std::uint32_t authnLevel, std::uint32_t impLevel,
                          std::uint32_t capabilities) {
  IUnknown* s = As<IUnknown>(services);
  if (s == nullptr) return E_POINTER;
  return ::CoSetProxyBlanket(s, authnSvc, authzSvc, nullptr, authnLevel, impLevel, nullptr,
                             capabilities);
}

HResult ExecQuery(const ComRef& services, const wchar_t* language, const wchar_t* query,
                  std::int32_t flags, ComRef* enumerator) {
  IWbemServices* s = As<IWbemServices>(services);
  if (s == nullptr) return E_POINTER;
  Bstr lang(language);
  Bstr text(query);
  if (!lang.valid() || !text.valid()) return E_OUTOFMEMORY;
  IEnumWbemClassObject* p = nullptr;
  const HRESULT hr = s->ExecQuery(lang.get(), text.get(), flags, nullptr, &p);
  Store(p, enumerator);  // owned here even if a failing call handed one out
  return hr;
}

HResult EnumNext(const ComRef& enumerator, std::int32_t timeout, ComRef* object,
                 std::uint32_t* returned) {
  *returned = 0;
  object->Release();
  IEnumWbemClassObject* e = As<IEnumWbemClassObject>(enumerator);
  if (e == nullptr) return E_POINTER;
  IWbemClassObject* p = nullptr;
  ULONG n = 0;
  const HRESULT hr = e->Next(timeout, 1, &p, &n);
  // Whatever came back is owned here, also when the call reports a failure with it.
  Store(p, object);
  *returned = n;
  return hr;
}

HResult WmiGet(const ComRef& object, const wchar_t* name, WmiValue* value) {
  *value = WmiValue{};
  IWbemClassObject* o = As<IWbemClassObject>(object);
  if (o == nullptr) return E_POINTER;
  Variant v;
  const HRESULT hr = o->Get(name, 0, v.get(), nullptr, nullptr);
  if (SUCCEEDED(hr)) *value = Convert(*v);
  v.Clear();
  return hr;
}

}  // namespace os
