// User-defined streams: BeginStream...EndStream, ExecStream, RemoveStream.
#include "PxlInterp.h"

#include <algorithm>

namespace tarvik::pclxl {

void Interpreter::BeginStream() {
    const Value* name;
    if (!Require(aStreamName, name)) return;
    if (m_streamOpen) Warn("IllegalOperatorSequence (stream already open)");
    m_streamOpen = true;
    m_streamName = name->Text();
    m_streamData.clear();
}

void Interpreter::ReadStream(Reader& r) {
    const uint8_t* d;
    uint32_t n;
    if (!Embedded(r, d, n)) return;
    if (!m_streamOpen) {
        Warn("IllegalOperatorSequence (no stream)");
        return;
    }
    if (m_streamData.size() + n > m_limits.maxRecordBytes * 4 ||
        m_downloadBytes + m_streamData.size() + n > m_limits.maxDownloadBytes) {
        Warn("InsufficientMemory (stream too large)");
        m_streamOpen = false;
        m_streamData.clear();
        return;
    }
    m_streamData.insert(m_streamData.end(), d, d + n);
}

void Interpreter::EndStream() {
    if (!m_streamOpen) {
        Warn("IllegalOperatorSequence (no stream)");
        return;
    }
    m_streamOpen = false;
    auto it = m_streams.find(m_streamName);
    if (it != m_streams.end()) {
        if (m_running.count(m_streamName)) {
            Warn("StreamAlreadyRunning (not replaced)");
            return;
        }
        m_downloadBytes -= std::min(m_downloadBytes, it->second->size());
    }
    m_downloadBytes += m_streamData.size();
    m_streams[m_streamName] = std::make_shared<std::vector<uint8_t>>(std::move(m_streamData));
    m_streamData.clear();
}

void Interpreter::RemoveStream() {
    const Value* name;
    if (!Require(aStreamName, name)) return;
    auto it = m_streams.find(name->Text());
    if (it == m_streams.end()) {
        Warn("UndefinedStreamNotRemoved");
        return;
    }
    m_downloadBytes -= std::min(m_downloadBytes, it->second->size());
    m_streams.erase(it); // a running stream keeps its bytes until it ends
}

Interpreter::Flow Interpreter::ExecStream(int depth) {
    const Value* name;
    if (!Require(aStreamName, name)) return Flow::Continue;
    std::string key = name->Text();
    auto it = m_streams.find(key);
    if (it == m_streams.end()) {
        Warn("StreamUndefined");
        return Flow::Continue;
    }
    if (m_running.count(key)) {
        Warn("StreamAlreadyRunning");
        return Flow::Continue;
    }
    if (depth + 1 > m_limits.maxStreamNesting) {
        Warn("StreamStackFull");
        return Flow::Continue;
    }
    if (depth > 0 && m_protocolClass < 2) Warn("StreamNestingError");
    std::shared_ptr<std::vector<uint8_t>> bytes = it->second;
    StreamHeader h;
    std::string err;
    if (ParseStreamHeader(bytes->data(), bytes->size(), h, err) != HeaderResult::Ok) {
        Warn("InternalStreamError " + err);
        return Flow::Continue;
    }
    Reader sr(bytes->data(), bytes->size(), h.binding == StreamHeader::Binding::HighByteFirst);
    sr.Seek(h.length);
    uint8_t op = m_op;
    m_running.insert(key);
    // The outer operator's attributes are spent; the stream starts clean.
    ClearAttributes();
    Flow f = Execute(sr, depth + 1);
    m_running.erase(key);
    m_op = op;
    if (m_stopped) return Flow::Broken;
    if (f == Flow::Broken || m_broken) {
        // A broken stream body does not break the stream that called it.
        m_broken = false;
        Warn("InternalStreamError (stream body broken)");
    }
    ClearAttributes();
    return Flow::Continue;
}

} // namespace tarvik::pclxl
