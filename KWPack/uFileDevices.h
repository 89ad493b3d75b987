// The devices: a media file (a source filter, with a splitter behind it when
// the source does not split), the DV device that an interleaved DV pin
// becomes, and the stream device of a raw byte-stream pin.
//
// Each constructor probes the device (TMediaDevice::Probe), so a device is
// ready, valid or not, once built. Ownership and threads as in
// uMediaDevices.h: UI thread; the records are shared with whoever made them,
// the filter instances are the device's own.
#pragma once

#include "KWPack/uMediaDevices.h"

#include <memory>

using TFilterRecPtr = std::shared_ptr<const TFilterRec>;

// A file opened by its source record (which must not be GUID_NULL) and split,
// when a splitter record is given, by that splitter. Named after the file,
// without its folder, number 1.
class TFileDevice final : public TMediaDevice {
public:
    TFileDevice(const QString &fileName, TFilterRecPtr splitterRecord, TFilterRecPtr sourceRecord);
    ~TFileDevice() override;

    // Source loaded with the file into the graph under its record's name; the
    // splitter, under its own, connected directly behind it. On failure
    // nothing of it stays in the graph.
    bool Connect() override;
    // Splitter and source out of the graph; false only when the graph refused.
    bool Disconnect() override;

    const QString &FileName() const { return FFileName; }
    // Null when the device has no such record.
    const TFilterRec *SourceRecord() const { return FSourceRecord.get(); }
    const TFilterRec *SplitterRecord() const { return FSplitterRecord.get(); }
    IBaseFilter *SourceFilter() const { return FSourceFilter.Get(); }
    IBaseFilter *SplitterFilter() const { return FSplitterFilter.Get(); }

private:
    bool Build();

    QString FFileName;
    TFilterRecPtr FSourceRecord;
    TFilterRecPtr FSplitterRecord;
    ComPtr<IBaseFilter> FSourceFilter;
    ComPtr<IBaseFilter> FSplitterFilter;
};

// The interleaved DV pin PinIndex of its parent, through "DV Notifier" into
// "DV Splitter", whose video and audio pins become its sources. Named like
// its parent, numbered by its pin.
class TDVDevice final : public TMediaDevice {
public:
    // A placeholder ("No DV"): no filters, no probing.
    TDVDevice(const QString &name, int number);
    // Creates the DV splitter and the notifier (kind code 1), then probes in
    // the parent's graph. Without a splitter it stops before probing
    // (HasSplitter() false).
    TDVDevice(TMediaDevice *device, int index);
    ~TDVDevice() override;

    bool Connect() override;
    bool Disconnect() override;
    TNotifier *DeviceNotifier() const override { return FNotifier.Get(); }

    bool HasSplitter() const { return static_cast<bool>(FSplitter); }
    IBaseFilter *Splitter() const { return FSplitter.Get(); }

private:
    bool Build();

    ComPtr<IBaseFilter> FSplitter;
    ComPtr<TNotifier> FNotifier;
};

// A byte-stream pin. It holds an MPEG-2 demultiplexer and a smart tee but
// builds nothing into the graph, so it is never valid and has no sources.
class TStreamDevice final : public TMediaDevice {
public:
    // A placeholder ("No Stream"): no filters, no probing.
    TStreamDevice(const QString &name, int number);
    TStreamDevice(TMediaDevice *device, int index);
    ~TStreamDevice() override;

    bool Connect() override { return true; }
    bool Disconnect() override { return true; }

private:
    ComPtr<IBaseFilter> FDemultiplexer;
    ComPtr<IBaseFilter> FSmartTee;
};
