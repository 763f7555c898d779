#include "infra/xml_parse.h"

#include <fcntl.h>
#include <libxml/parser.h>
#include <libxml/tree.h>
#include <libxml/xmlIO.h>
#include <libxml/xmlerror.h>
#include <libxml/xmlreader.h>
#include <libxml/xmlwriter.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>

#include "base/app_log.h"
#include "base/string_utility.h"

namespace tessarine {

namespace {

constexpr char kByteOrderMark[] = "\xEF\xBB\xBF";
constexpr char kReplacementCharacter[] = "\xEF\xBF\xBD";  // U+FFFD
constexpr char kIndentString[] = "  ";

// No network access, no DTD loading, no entity substitution, the parser's size limits kept
// (no XML_PARSE_HUGE). Errors reach the reader's handler only, never stderr.
constexpr int kParseOptions = XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING;

void InitializeLibrary() {
    static std::once_flag once;
    std::call_once(once, [] {
        LIBXML_TEST_VERSION;
        xmlInitParser();
    });
}

const xmlChar* ToXml(const std::string& text) {
    return reinterpret_cast<const xmlChar*>(text.c_str());
}

// Length of the valid UTF-8 sequence at text[pos] that encodes a character XML 1.0 allows
// (#x9 | #xA | #xD | [#x20-#xD7FF] | [#xE000-#xFFFD] | [#x10000-#x10FFFF]); 0 when there is none.
std::size_t XmlCharLength(const std::string& text, std::size_t pos) {
    char32_t code = 0;
    const std::size_t length = DecodeUtf8(text, pos, code);
    if (length == 0) return 0;
    if (code < 0x20) return (code == 0x09 || code == 0x0A || code == 0x0D) ? 1 : 0;
    if (code == 0xFFFE || code == 0xFFFF) return 0;  // not an XML character
    return length;
}

// The text with every byte that does not start an allowed character replaced by U+FFFD.
std::string ToXmlText(const std::string& text, int* replaced) {
    std::string result;
    result.reserve(text.size());
    *replaced = 0;
    for (std::size_t pos = 0; pos < text.size();) {
        const std::size_t length = XmlCharLength(text, pos);
        if (length == 0) {
            result += kReplacementCharacter;
            ++*replaced;
            ++pos;
        } else {
            result.append(text, pos, length);
            pos += length;
        }
    }
    return result;
}

// fstat of an open file; false with errno set when it fails or the file is not a regular one.
bool IsRegularFile(int fd, struct stat* status) {
    if (::fstat(fd, status) != 0) return false;
    if (S_ISREG(status->st_mode)) return true;
    errno = S_ISDIR(status->st_mode) ? EISDIR : EINVAL;
    return false;
}

bool IsValidElementName(const std::string& name) {
    return name.find('\0') == std::string::npos && xmlValidateNCName(ToXml(name), 0) == 0;
}

}  // namespace

// The byte stream under a reader or a writer: a file or a memory buffer. Written bytes are held
// in `pending` until Commit, so nothing reaches the file or the buffer before Flush.
class CXMLParse::Stream {
public:
    enum class Kind { kReadFile, kReadMemory, kWriteFile, kWriteMemory };

    Stream(Kind kind, int fd) : kind_(kind), fd_(fd) {}
    Stream(Kind kind, std::string memory) : kind_(kind), memory_(std::move(memory)) {}
    ~Stream() {
        if (fd_ >= 0) ::close(fd_);
    }
    Stream(const Stream&) = delete;
    Stream& operator=(const Stream&) = delete;

    Kind GetKind() const { return kind_; }
    const std::string& Memory() const { return memory_; }
    bool HasFailed() const { return failed_; }
    const std::string& ParserMessage() const { return parserMessage_; }

    // Input callback of the parser: bytes read, 0 at the end, -1 on failure.
    static int ReadCallback(void* context, char* buffer, int length) {
        return static_cast<Stream*>(context)->Read(buffer, length);
    }
    // Output callback of the writer: keeps the bytes until Commit.
    static int WriteCallback(void* context, const char* buffer, int length) {
        auto* stream = static_cast<Stream*>(context);
        stream->pending_.append(buffer, static_cast<std::size_t>(length));
        return length;
    }
    // Error callback of the parser: keeps the last error's description.
    static void ErrorCallback(void* context, xmlErrorPtr error) {
        if (error == nullptr || error->level < XML_ERR_ERROR) return;
        auto* stream = static_cast<Stream*>(context);
        std::string message = error->message != nullptr ? error->message : "unknown error";
        while (!message.empty() && (message.back() == '\n' || message.back() == '\r')) {
            message.pop_back();
        }
        stream->parserMessage_ = Format("line %d: %s", error->line, message.c_str());
    }

    void AppendPending(const char* bytes) { pending_ += bytes; }

    // Moves the pending bytes into the file or the memory buffer; false (errno set) when the
    // file cannot take them.
    bool Commit() {
        if (kind_ == Kind::kWriteMemory) {
            memory_ += pending_;
            pending_.clear();
            return true;
        }
        std::size_t done = 0;
        while (done < pending_.size()) {
            const ssize_t written = ::write(fd_, pending_.data() + done, pending_.size() - done);
            if (written < 0) {
                if (errno == EINTR) continue;
                pending_.erase(0, done);
                return false;
            }
            done += static_cast<std::size_t>(written);
        }
        pending_.clear();
        return true;
    }

private:
    int Read(char* buffer, int length) {
        if (length <= 0) return 0;
        if (kind_ == Kind::kReadMemory) {
            const std::size_t count =
                std::min(static_cast<std::size_t>(length), memory_.size() - readPosition_);
            std::memcpy(buffer, memory_.data() + readPosition_, count);
            readPosition_ += count;
            return static_cast<int>(count);
        }
        ssize_t count;
        do {
            count = ::read(fd_, buffer, static_cast<std::size_t>(length));
        } while (count < 0 && errno == EINTR);
        if (count < 0) {
            failed_ = true;
            parserMessage_ = Format("file read failed: %s", std::strerror(errno));
            return -1;
        }
        // A file may grow after its size was checked.
        totalRead_ += static_cast<std::size_t>(count);
        if (totalRead_ > kMaxDocumentSize) {
            failed_ = true;
            parserMessage_ = Format("document exceeds %zu bytes", kMaxDocumentSize);
            return -1;
        }
        return static_cast<int>(count);
    }

    Kind kind_;
    int fd_ = -1;
    std::string memory_;  // reading: the document; writing to memory: the flushed bytes
    std::size_t readPosition_ = 0;
    std::size_t totalRead_ = 0;
    std::string pending_;  // written, not yet flushed
    bool failed_ = false;
    std::string parserMessage_;
};

void CXMLParse::ReaderDeleter::operator()(_xmlTextReader* reader) const {
    xmlFreeTextReader(reader);
}

void CXMLParse::WriterDeleter::operator()(_xmlTextWriter* writer) const {
    xmlFreeTextWriter(writer);
}

// Records the code and writes the error line of the calling operation.
#define XML_FAIL(code, message) \
    do {                        \
        lastError_ = (code);    \
        LOG_ERROR(message);     \
    } while (0)

CXMLParse::CXMLParse() { InitializeLibrary(); }

CXMLParse::~CXMLParse() { Release(); }

void CXMLParse::Release() {
    // The reader and the writer use the stream until they are freed.
    writer_.reset();
    reader_.reset();
    stream_.reset();
    endOfDocument_ = false;
}

int CXMLParse::SetupReadFromFile(const std::string& filePath) {
    LOG_METHOD();
    LOG_TRACE("Param:" + filePath);
    if (filePath.empty()) {
        XML_FAIL(kErrorParameter, "Parameter Error");
        return 0;
    }
    if (IsUsed()) {
        XML_FAIL(kErrorNotReleased, "Object Not Released");
        return 0;
    }
    // O_NONBLOCK keeps a FIFO from blocking the open; only regular files are read.
    const int fd = ::open(filePath.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        XML_FAIL(kErrorCreateStream, "CreateStreamError");
        return 0;
    }
    struct stat status {};
    if (!IsRegularFile(fd, &status)) {
        const int error = errno;
        ::close(fd);
        errno = error;
        XML_FAIL(kErrorCreateStream, "CreateStreamError");
        return 0;
    }
    if (static_cast<std::uint64_t>(status.st_size) > kMaxDocumentSize) {
        ::close(fd);
        errno = EFBIG;
        XML_FAIL(kErrorRead, "Read Error");
        LOG_ERROR(Format("Document Too Large: %lld bytes (limit %zu)",
                         static_cast<long long>(status.st_size), kMaxDocumentSize));
        return 0;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    stream_ = std::make_unique<Stream>(Stream::Kind::kReadFile, fd);
    return SetupReader();
}

int CXMLParse::SetupReadFromBuffer(const void* data, std::uint32_t size) {
    LOG_METHOD();
    LOG_TRACE(Format("Param:%u", size));
    if (data == nullptr || size == 0) {
        XML_FAIL(kErrorParameter, "Parameter Error");
        return 0;
    }
    if (IsUsed()) {
        XML_FAIL(kErrorNotReleased, "Object Not Released");
        return 0;
    }
    if (size > kMaxDocumentSize) {
        errno = EFBIG;
        XML_FAIL(kErrorRead, "Read Error");
        LOG_ERROR(Format("Document Too Large: %u bytes (limit %zu)", size, kMaxDocumentSize));
        return 0;
    }
    stream_ = std::make_unique<Stream>(Stream::Kind::kReadMemory,
                                       std::string(static_cast<const char*>(data), size));
    return SetupReader();
}

int CXMLParse::SetupReadFromBuffer(std::string_view bytes) {
    if (bytes.size() > UINT32_MAX) {
        // Larger than any document we accept; let the size check report it.
        return SetupReadFromBuffer(bytes.data(), UINT32_MAX);
    }
    return SetupReadFromBuffer(bytes.data(), static_cast<std::uint32_t>(bytes.size()));
}

int CXMLParse::SetupReader() {
    LOG_METHOD();
    if (!stream_ || reader_ || writer_) {
        XML_FAIL(kErrorNotSetup, "Object Not Setuped");
        return 0;
    }
    // The stream stays ours: the reader gets no close callback.
    xmlTextReaderPtr reader = xmlReaderForIO(&Stream::ReadCallback, nullptr, stream_.get(), nullptr,
                                             nullptr, kParseOptions);
    if (reader == nullptr) {
        XML_FAIL(kErrorCreateReader, "CreateXMLReaderError");
        return 0;
    }
    reader_.reset(reader);
    xmlTextReaderSetStructuredErrorHandler(reader, &Stream::ErrorCallback, stream_.get());
    return 1;
}

int CXMLParse::SetupWriteToFile(const std::string& filePath, unsigned fileMode) {
    LOG_METHOD();
    LOG_TRACE("Param:" + filePath);
    if (filePath.empty()) {
        XML_FAIL(kErrorParameter, "Parameter Error");
        return 0;
    }
    if (IsUsed()) {
        XML_FAIL(kErrorNotReleased, "Object Not Released");
        return 0;
    }
    const int fd =
        ::open(filePath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW,
               static_cast<mode_t>(fileMode));
    if (fd < 0) {
        XML_FAIL(kErrorCreateStream, "CreateStreamError");
        return 0;
    }
    struct stat status {};
    if (!IsRegularFile(fd, &status) ||
        (fileMode != 0666 && ::fchmod(fd, static_cast<mode_t>(fileMode)) != 0)) {
        const int error = errno;
        ::close(fd);
        errno = error;
        XML_FAIL(kErrorCreateStream, "CreateStreamError");
        return 0;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    stream_ = std::make_unique<Stream>(Stream::Kind::kWriteFile, fd);
    return SetupWriter();
}

int CXMLParse::SetupWriteToBuffer() {
    LOG_METHOD();
    if (IsUsed()) {
        XML_FAIL(kErrorNotReleased, "Object Not Released");
        return 0;
    }
    stream_ = std::make_unique<Stream>(Stream::Kind::kWriteMemory, std::string());
    return SetupWriter();
}

int CXMLParse::SetupWriter() {
    LOG_METHOD();
    if (!stream_ || reader_ || writer_) {
        XML_FAIL(kErrorNotSetup, "Object Not Setuped");
        return 0;
    }
    // The stream stays ours: the output buffer gets no close callback.
    xmlOutputBufferPtr output =
        xmlOutputBufferCreateIO(&Stream::WriteCallback, nullptr, stream_.get(), nullptr);
    if (output == nullptr) {
        XML_FAIL(kErrorSetInputOutput, "SetOutputError");
        return 0;
    }
    xmlTextWriterPtr writer = xmlNewTextWriter(output);
    if (writer == nullptr) {
        xmlOutputBufferClose(output);
        XML_FAIL(kErrorCreateWriter, "CreateXMLWriterrError");
        return 0;
    }
    writer_.reset(writer);
    if (xmlTextWriterSetIndent(writer, 1) < 0 ||
        xmlTextWriterSetIndentString(writer, reinterpret_cast<const xmlChar*>(kIndentString)) < 0) {
        XML_FAIL(kErrorSetProperty, "SetPropertyError");
        return 0;
    }
    // The writer has buffered nothing yet, so the byte-order mark comes first.
    stream_->AppendPending(kByteOrderMark);
    if (xmlTextWriterStartDocument(writer, "1.0", "UTF-8", nullptr) < 0) {
        XML_FAIL(kErrorStartDocument, "WriteStartDocumentError");
        return 0;
    }
    return 1;
}

int CXMLParse::ReadNode() {
    const int result = xmlTextReaderRead(reader_.get());
    if (result == 1) return 1;
    lastError_ = kErrorRead;
    endOfDocument_ = result == 0 && !stream_->HasFailed();
    if (!endOfDocument_) {
        const std::string& detail = stream_->ParserMessage();
        LOG_ERROR("Parse Error: " + (detail.empty() ? std::string("malformed document") : detail));
    }
    return result == 0 ? 0 : -1;
}

bool CXMLParse::ReadNextElement(std::string* name, std::string* value) {
    LOG_METHOD();
    if (!HasReader()) {
        XML_FAIL(kErrorNotSetup, "Object Not Setuped");
        return false;
    }
    if (name == nullptr || value == nullptr) {
        XML_FAIL(kErrorParameter, "Buffer is NULL");
        return false;
    }
    xmlTextReaderPtr reader = reader_.get();
    do {
        if (ReadNode() != 1) {
            XML_FAIL(kErrorRead, "Read Error");
            return false;
        }
    } while (xmlTextReaderNodeType(reader) != XML_READER_TYPE_ELEMENT);

    const xmlChar* localName = xmlTextReaderConstLocalName(reader);
    if (localName == nullptr) {
        XML_FAIL(kErrorReadLocalName, "Read LocalName Error");
        return false;
    }
    *name = reinterpret_cast<const char*>(localName);

    // An empty-element tag has no end node: its value is empty, not the next element's text.
    if (xmlTextReaderIsEmptyElement(reader) == 1) {
        value->clear();
        LOG_TRACE("Element:" + *name + " Value:");
        return true;
    }
    for (;;) {
        if (ReadNode() != 1) {
            XML_FAIL(kErrorRead, "Read Error");
            return false;
        }
        const int type = xmlTextReaderNodeType(reader);
        if (type == XML_READER_TYPE_TEXT) {
            const xmlChar* text = xmlTextReaderConstValue(reader);
            if (text == nullptr) {
                XML_FAIL(kErrorReadValue, "Read Value Error");
                return false;
            }
            *value = reinterpret_cast<const char*>(text);
            break;
        }
        if (type == XML_READER_TYPE_END_ELEMENT) {
            value->clear();
            break;
        }
    }
    LOG_TRACE("Element:" + *name + " Value:" + *value);
    return true;
}

bool CXMLParse::SkipElements(int count) {
    LOG_METHOD();
    if (!HasReader()) {
        XML_FAIL(kErrorNotSetup, "Object Not Setuped");
        return false;
    }
    int passed = 0;
    for (;;) {
        if (ReadNode() != 1) return false;
        if (xmlTextReaderNodeType(reader_.get()) == XML_READER_TYPE_ELEMENT && ++passed == count) {
            return true;
        }
    }
}

int CXMLParse::WriteStartElement(const std::string& name) {
    LOG_METHOD();
    LOG_TRACE("Param:" + name);
    if (!HasWriter()) {
        XML_FAIL(kErrorNotSetup, "Object Not Setuped");
        return 0;
    }
    if (name.empty()) {
        XML_FAIL(kErrorParameter, "Start Element is Empty");
        return 0;
    }
    if (!IsValidElementName(name) || xmlTextWriterStartElement(writer_.get(), ToXml(name)) < 0) {
        XML_FAIL(kErrorWriteStartElement, "Write Start Element Error");
        return 0;
    }
    return 1;
}

int CXMLParse::WriteEndElement() {
    LOG_METHOD();
    if (!HasWriter()) {
        XML_FAIL(kErrorNotSetup, "Object Not Setuped");
        return 0;
    }
    if (xmlTextWriterEndElement(writer_.get()) < 0) {
        XML_FAIL(kErrorWriteEndElement, "Write End Element Error");
        return 0;
    }
    return 1;
}

int CXMLParse::WriteElementAndText(const std::string& name, const std::string& text) {
    LOG_METHOD();
    LOG_TRACE("Param:" + name + ", " + text);
    if (!HasWriter()) {
        XML_FAIL(kErrorNotSetup, "Object Not Setuped");
        return 0;
    }
    if (name.empty() || text.empty()) {
        XML_FAIL(kErrorParameter, "Start Element or Text is Empty");
        return 0;
    }
    xmlTextWriterPtr writer = writer_.get();
    if (!IsValidElementName(name) || xmlTextWriterStartElement(writer, ToXml(name)) < 0) {
        XML_FAIL(kErrorWriteStartElement, "Write Start Element Error");
        return 0;
    }
    int replaced = 0;
    const std::string xmlText = ToXmlText(text, &replaced);
    if (replaced != 0) {
        LOG_NOTICE(Format("Text of <%s> is not valid XML text: %d byte(s) written as U+FFFD",
                          name.c_str(), replaced));
    }
    if (xmlTextWriterWriteString(writer, ToXml(xmlText)) < 0) {
        XML_FAIL(kErrorWriteValue, "Write Value Error");
        return 0;
    }
    if (xmlTextWriterEndElement(writer) < 0) {
        XML_FAIL(kErrorWriteEndElement, "Write End Element Error");
        return 0;
    }
    return 1;
}

int CXMLParse::Flush() {
    LOG_METHOD();
    if (!HasWriter()) {
        XML_FAIL(kErrorNotSetup, "Object Not Setuped");
        return 0;
    }
    if (xmlTextWriterFlush(writer_.get()) < 0 || !stream_->Commit()) {
        XML_FAIL(kErrorFlush, "Flush Error");
        return 0;
    }
    return 1;
}

std::string CXMLParse::GetBuffer() const {
    if (!stream_ || stream_->GetKind() != Stream::Kind::kWriteMemory) return std::string();
    return stream_->Memory();
}

}  // namespace tessarine
