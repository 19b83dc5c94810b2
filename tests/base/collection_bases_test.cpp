#include "base/collection_bases.h"

#include <gtest/gtest.h>

#include <atomic>
#include <utility>
#include <thread>
#include <vector>

namespace {

int gLiveItems = 0;

// An interface of our own, to check that further interfaces share the item's count.
struct IProbe : public IUnknown {
  virtual int32_t STDMETHODCALLTYPE Value() = 0;
};
const IID IID_IProbe = {0x5E3C1A20, 0x1111, 0x4222, {0x83, 0x33, 0x44, 0x44, 0x55, 0x55, 0x66, 0x66}};

class TProbeItem : public TImplementsInterfaces<TRootCollectionItem, IProbe> {
public:
  explicit TProbeItem(TCollection* collection) : TImplementsInterfaces(collection) { ++gLiveItems; }
  int32_t STDMETHODCALLTYPE Value() override { return 42; }

protected:
  ~TProbeItem() override { --gLiveItems; }
  void* GetInterface(REFIID riid) override {
    if (IsEqualIID(riid, IID_IProbe))
      return static_cast<IProbe*>(this);
    return TImplementsInterfaces::GetInterface(riid);
  }
};

class TProbeList : public TRootCollection {
public:
  TProbeList() : TRootCollection(ItemClassOf<TProbeItem>()) {}
  TProbeItem* AddProbe() { return static_cast<TProbeItem*>(Add()); }
};

}  // namespace

TEST(CollectionItemInterface, ReleaseItemTwiceReleasesOnce) {
  TProbeList list;
  TProbeItem* item = list.AddProbe();
  ASSERT_EQ(item->RefCount(), 1);
  item->AddRef();  // someone else holds the item
  item->ReleaseItem();
  EXPECT_TRUE(item->Released());
  EXPECT_EQ(list.Count(), 0);
  EXPECT_EQ(item->RefCount(), 1);
  item->ReleaseItem();
  EXPECT_EQ(item->RefCount(), 1) << "the second call must not drop another reference";
  EXPECT_EQ(gLiveItems, 1);
  item->Release();
  EXPECT_EQ(gLiveItems, 0);
}

TEST(CollectionItemInterface, LastReleaseFreesTheItem) {
  TProbeList list;
  TProbeItem* item = list.AddProbe();
  EXPECT_EQ(gLiveItems, 1);
  item->ReleaseItem();
  EXPECT_EQ(gLiveItems, 0);
  EXPECT_EQ(list.Count(), 0);
}

TEST(CollectionItemInterface, CollectionKeepsItemsThatAreStillReferenced) {
  IProbe* held = nullptr;
  {
    TProbeList list;
    TProbeItem* item = list.AddProbe();
    list.AddProbe();
    ASSERT_EQ(item->QueryInterface(IID_IProbe, reinterpret_cast<void**>(&held)), S_OK);
    EXPECT_EQ(item->RefCount(), 2);
    list.Delete(1);
    EXPECT_EQ(gLiveItems, 1);
  }
  // The list is gone; the item survives detached as long as the reference lasts.
  EXPECT_EQ(gLiveItems, 1);
  EXPECT_EQ(held->Value(), 42);
  EXPECT_EQ(held->Release(), 0u);
  EXPECT_EQ(gLiveItems, 0);
}

TEST(CollectionItemInterface, QueryInterfaceAnswersTheInterfaceTable) {
  TProbeList list;
  TProbeItem* item = list.AddProbe();
  IUnknown* unknown = nullptr;
  ASSERT_EQ(item->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&unknown)), S_OK);
  EXPECT_EQ(unknown, static_cast<IUnknown*>(static_cast<TCollectionItemInterface*>(item)));
  unknown->Release();
  void* none = reinterpret_cast<void*>(1);
  EXPECT_EQ(item->QueryInterface(IID_IDispatch, &none), E_NOINTERFACE);
  EXPECT_EQ(none, nullptr);
  EXPECT_EQ(item->QueryInterface(IID_IProbe, nullptr), E_POINTER);
  EXPECT_EQ(item->RefCount(), 1);
}

TEST(CollectionItemInterface, FurtherInterfacesShareTheItemsCount) {
  TProbeList list;
  TProbeItem* item = list.AddProbe();
  IProbe* probe = nullptr;
  ASSERT_EQ(item->QueryInterface(IID_IProbe, reinterpret_cast<void**>(&probe)), S_OK);
  EXPECT_EQ(item->RefCount(), 2);
  EXPECT_EQ(probe->AddRef(), 3u);
  EXPECT_EQ(probe->Release(), 2u);
  IUnknown* unknown = nullptr;
  ASSERT_EQ(probe->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&unknown)), S_OK);
  EXPECT_EQ(unknown, static_cast<IUnknown*>(static_cast<TCollectionItemInterface*>(item)))
      << "one identity for every interface";
  unknown->Release();
  item->ReleaseItem();
  EXPECT_EQ(gLiveItems, 1);
  EXPECT_EQ(probe->Release(), 0u);
  EXPECT_EQ(gLiveItems, 0);
}

namespace {

// An item whose interface method fails the way interface methods report exceptions.
class TFailingItem : public TCollectionItemInterface {
public:
  using TCollectionItemInterface::TCollectionItemInterface;
  HRESULT Fail(const std::exception& error) { return SafeCallException(error); }
  HRESULT FailWithCurrent() {
    try {
      throw 42;
    } catch (...) {
      return SafeCallException();
    }
  }
};

std::pair<WideString, GUID> ThreadErrorInfo(WideString* helpFile = nullptr) {
  ComPtr<IErrorInfo> info;
  if (GetErrorInfo(0, info.Put()) != S_OK || !info)
    return {};
  OleString description, help;
  GUID guid{};
  info->GetDescription(description.Put());
  info->GetGUID(&guid);
  info->GetHelpFile(help.Put());
  if (helpFile)
    *helpFile = help.Str();
  return {description.Str(), guid};
}

}  // namespace

TEST(CollectionItemInterface, ExceptionsBecomeAutomationErrorInformation) {
  TCollection list(ItemClassOf<TFailingItem>());
  auto* item = static_cast<TFailingItem*>(list.Add());
  EXPECT_EQ(item->Fail(EConvertError(AnsiFromUtf8("Ошибка преобразования"))), E_UNEXPECTED);
  WideString helpFile = OLESTR("x");
  const auto [description, guid] = ThreadErrorInfo(&helpFile);
  EXPECT_EQ(description, WideFromUtf8("Ошибка преобразования"));
  EXPECT_TRUE(IsEqualGUID(guid, GUID_NULL));
  EXPECT_TRUE(helpFile.empty());
  EXPECT_EQ(item->FailWithCurrent(), E_UNEXPECTED);
  EXPECT_FALSE(ThreadErrorInfo().first.empty()) << "a foreign exception still leaves a description";
}

TEST(CollectionItemInterface, CountsAtomicallyAcrossThreads) {
  TProbeList list;
  TProbeItem* item = list.AddProbe();
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([item] {
      for (int i = 0; i < 20000; ++i) {
        item->AddRef();
        item->Release();
      }
    });
  for (auto& thread : threads)
    thread.join();
  EXPECT_EQ(item->RefCount(), 1);
  EXPECT_EQ(gLiveItems, 1);
}

TEST(RootCollection, ReleasesItsLinkAndItsItems) {
  TProbeList* list = new TProbeList;
  TProbeList linkTarget;
  TProbeItem* linkItem = linkTarget.AddProbe();
  list->SetLink(static_cast<TCollectionItemInterface*>(linkItem));
  EXPECT_EQ(linkItem->RefCount(), 2);
  TProbeItem* item = list->AddProbe();
  item->SetLink(static_cast<TCollectionItemInterface*>(linkItem));
  EXPECT_EQ(item->Tag(), 0);
  EXPECT_EQ(linkItem->RefCount(), 3);
  delete list;
  EXPECT_EQ(linkItem->RefCount(), 1);
  EXPECT_EQ(gLiveItems, 1);
}

TEST(RootCollection, RaiseErrorForwardsTheCode) {
  TProbeList list;
  try {
    list.RaiseError(ERR_INVALID_INDEX, {});
    FAIL();
  } catch (const EProtectException& error) {
    EXPECT_EQ(error.Code, ERR_INVALID_INDEX);
  }
}
