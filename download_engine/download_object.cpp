#include "download_engine/download_object.h"

#include <olectl.h>

#include <vector>

#include "download_engine/text.h"

namespace engine {

namespace {

HRESULT Done(const Status& status) { return Report(status, IID_IDownload); }

// An out VARIANT holding a one-dimensional SAFEARRAY of BSTR VARIANTs, lower bound 0.
HRESULT MakeList(const std::vector<std::wstring>& texts, VARIANT* list) {
  VariantInit(list);
  SAFEARRAY* array = SafeArrayCreateVector(VT_VARIANT, 0, static_cast<ULONG>(texts.size()));
  if (array == nullptr) return E_OUTOFMEMORY;
  for (LONG i = 0; i < static_cast<LONG>(texts.size()); ++i) {
    VARIANT item;
    VariantInit(&item);
    item.vt = VT_BSTR;
    item.bstrVal = ToBstr(texts[static_cast<size_t>(i)]);
    HRESULT result = item.bstrVal ? SafeArrayPutElement(array, &i, &item) : E_OUTOFMEMORY;
    VariantClear(&item);
    if (FAILED(result)) {
      SafeArrayDestroy(array);
      return result;
    }
  }
  list->vt = VT_ARRAY | VT_VARIANT;
  list->parray = array;
  return S_OK;
}

}  // namespace

DownloadObject::DownloadObject() : errorInfo_(static_cast<IDownload*>(this), IID_IDownload), point_(this) {}

HRESULT DownloadObject::QueryInterface(REFIID riid, void** object) {
  if (object == nullptr) return E_POINTER;
  if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch) || IsEqualIID(riid, IID_IDownload)) {
    *object = static_cast<IDownload*>(this);
  } else if (IsEqualIID(riid, IID_IConnectionPointContainer)) {
    *object = static_cast<IConnectionPointContainer*>(this);
  } else if (IsEqualIID(riid, IID_ISupportErrorInfo)) {
    *object = &errorInfo_;
  } else {
    *object = nullptr;
    return E_NOINTERFACE;
  }
  AddRef();
  return S_OK;
}

ULONG DownloadObject::Release() {
  ULONG count = life_.Release();
  if (count == 0) delete this;
  return count;
}

HRESULT DownloadObject::StartupStep1() {
  return Guard(IID_IDownload, [&]() -> HRESULT { return Done(Engine::Instance().Open()); });
}

HRESULT DownloadObject::StartupStep2() {
  return Guard(IID_IDownload, [&]() -> HRESULT { return Done(Engine::Instance().DownloadReady()); });
}

HRESULT DownloadObject::CreateDownload(BSTR url, BSTR folder, BSTR fileName, BSTR referrer, long connections,
                                       long flags, BYTE* state) {
  return Guard(IID_IDownload, [&]() -> HRESULT {
    BYTE result = 0;
    Status status = Engine::Instance().CreateDownload(FromBstr(url), FromBstr(folder), FromBstr(fileName),
                                                      FromBstr(referrer), connections, flags, &result);
    if (!status.Failed() && state) *state = result;
    return Done(status);
  });
}

HRESULT DownloadObject::StopDownload(BSTR key) {
  return Guard(IID_IDownload, [&]() -> HRESULT { return Done(Engine::Instance().StopDownload(FromBstr(key))); });
}

HRESULT DownloadObject::DeleteDownload(BSTR key, long flag) {
  return Guard(IID_IDownload, [&]() -> HRESULT {
    return Done(Engine::Instance().DeleteDownload(FromBstr(key), flag != 0));
  });
}

HRESULT DownloadObject::GetBlockStatusList(BSTR key, BSTR* text, long* count) {
  return Guard(IID_IDownload, [&]() -> HRESULT {
    if (text == nullptr || count == nullptr) return ReportPointer(IID_IDownload);
    std::wstring blocks;
    Status status = Engine::Instance().GetBlockStatus(FromBstr(key), &blocks, count);
    if (status.Failed()) return Done(status);
    *text = ToBstr(blocks);
    return *text ? S_OK : E_OUTOFMEMORY;
  });
}

HRESULT DownloadObject::GetResourceSize(BSTR key, long* size) {
  return Guard(IID_IDownload, [&]() -> HRESULT {
    if (size == nullptr) return ReportPointer(IID_IDownload);
    return Done(Engine::Instance().GetResourceSize(FromBstr(key), size));
  });
}

HRESULT DownloadObject::Unused13() { return E_NOTIMPL; }
HRESULT DownloadObject::Unused19() { return E_NOTIMPL; }
HRESULT DownloadObject::Unused20() { return E_NOTIMPL; }
HRESULT DownloadObject::Unused24() { return E_NOTIMPL; }

HRESULT DownloadObject::SetCookie(BSTR cookie, long flag) {
  return Guard(IID_IDownload, [&]() -> HRESULT {
    return Done(Engine::Instance().SetCookie(FromBstr(cookie), flag != 0));
  });
}

HRESULT DownloadObject::ClearCookie() {
  return Guard(IID_IDownload, [&]() -> HRESULT { return Done(Engine::Instance().ClearCookies()); });
}

HRESULT DownloadObject::GetTotalDownloadSpeed(long* speed) {
  return Guard(IID_IDownload, [&]() -> HRESULT {
    if (speed == nullptr) return ReportPointer(IID_IDownload);
    return Done(Engine::Instance().GetTotalSpeed(speed));
  });
}

HRESULT DownloadObject::GetDownloadingCount(long* count) {
  return Guard(IID_IDownload, [&]() -> HRESULT {
    if (count == nullptr) return ReportPointer(IID_IDownload);
    return Done(Engine::Instance().GetDownloadingCount(count));
  });
}

HRESULT DownloadObject::CancelDownload(BSTR key) {
  return Guard(IID_IDownload, [&]() -> HRESULT { return Done(Engine::Instance().CancelDownload(FromBstr(key))); });
}

HRESULT DownloadObject::ImportTask(BSTR task) {
  return Guard(IID_IDownload, [&]() -> HRESULT { return Done(Engine::Instance().ImportTasks(FromBstr(task))); });
}

HRESULT DownloadObject::Move(BSTR key, BYTE position) {
  return Guard(IID_IDownload, [&]() -> HRESULT { return Done(Engine::Instance().Move(FromBstr(key), position)); });
}

HRESULT DownloadObject::ArchiveTask(BYTE connections, BSTR fileName, LONGLONG size, BSTR path, BSTR finalUrl,
                                    BSTR contentType, BSTR key, BSTR url, BSTR created, BSTR finished,
                                    ULONG averageSpeed, BYTE complete, long reserved) {
  return Guard(IID_IDownload, [&]() -> HRESULT {
    ArchiveRecord record;
    record.connections = connections;
    record.fileName = FromBstr(fileName);
    record.size = size;
    record.path = FromBstr(path);
    record.finalUrl = FromBstr(finalUrl);
    record.contentType = FromBstr(contentType);
    record.key = FromBstr(key);
    record.url = FromBstr(url);
    record.created = FromBstr(created);
    record.finished = FromBstr(finished);
    record.averageSpeed = averageSpeed;
    record.complete = complete;
    record.reserved = reserved;
    return Done(Engine::Instance().Archive(record));
  });
}

HRESULT DownloadObject::ListWorkTasks(VARIANT* keys) {
  return Guard(IID_IDownload, [&]() -> HRESULT {
    if (keys == nullptr) return ReportPointer(IID_IDownload);
    std::vector<std::wstring> list;
    Status status = Engine::Instance().ListWorkKeys(&list);
    if (status.Failed()) {
      VariantInit(keys);
      return Done(status);
    }
    return MakeList(list, keys);
  });
}

HRESULT DownloadObject::QueryTaskInfo(BSTR key, BSTR* url, BSTR* folder, BSTR* fileName, BYTE* state, LONGLONG* size,
                                      LONGLONG* done, ULONG* speed, BSTR* message) {
  return Guard(IID_IDownload, [&]() -> HRESULT {
    if (!url || !folder || !fileName || !state || !size || !done || !speed || !message)
      return ReportPointer(IID_IDownload);
    TaskInfo info;
    bool found = false;
    Status status = Engine::Instance().QueryTask(FromBstr(key), &info, &found);
    if (status.Failed()) return Done(status);
    // An unknown key leaves every output as the caller preset it (state 0xFF).
    if (!found) return S_OK;
    BSTR texts[4] = {ToBstr(info.url), ToBstr(info.folder), ToBstr(info.fileName), ToBstr(info.message)};
    if (!texts[0] || !texts[1] || !texts[2] || !texts[3]) {
      for (BSTR text : texts) SysFreeString(text);
      return E_OUTOFMEMORY;
    }
    *url = texts[0];
    *folder = texts[1];
    *fileName = texts[2];
    *message = texts[3];
    *state = info.state;
    *size = info.size;
    *done = info.done;
    *speed = info.speed;
    return S_OK;
  });
}

HRESULT DownloadObject::ListFinishedTasks(VARIANT* texts) {
  return Guard(IID_IDownload, [&]() -> HRESULT {
    if (texts == nullptr) return ReportPointer(IID_IDownload);
    std::vector<std::wstring> list;
    Status status = Engine::Instance().ListFinishedTexts(&list);
    if (status.Failed()) {
      VariantInit(texts);
      return Done(status);
    }
    return MakeList(list, texts);
  });
}

HRESULT DownloadObject::DeleteDownload2(BSTR key, BSTR path, long flag) {
  return Guard(IID_IDownload, [&]() -> HRESULT {
    return Done(Engine::Instance().DeleteFinished(FromBstr(key), FromBstr(path), flag != 0));
  });
}

HRESULT DownloadObject::EnumConnectionPoints(IEnumConnectionPoints** points) {
  return Guard(IID_IDownload, [&]() -> HRESULT {
    return NewConnectionPointEnumerator(&point_, points);
  });
}

HRESULT DownloadObject::FindConnectionPoint(REFIID riid, IConnectionPoint** point) {
  return Guard(IID_IDownload, [&]() -> HRESULT {
    if (point == nullptr) return E_POINTER;
    if (!IsEqualIID(riid, DIID_ITaskEvents)) {
      *point = nullptr;
      return CONNECT_E_NOCONNECTION;
    }
    *point = &point_;
    point_.AddRef();
    return S_OK;
  });
}

}  // namespace engine
