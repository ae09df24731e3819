#pragma once
// An HTTP message body held in a QByteArray, for Boost.Beast: the remote calls hand their bodies to the
// JSON code as QByteArray, and a page of the sale list is megabytes that should not be copied again.
// Reading only: requests and responses are written as a head plus a list of buffers.

#include <QByteArray>

#include <boost/asio/buffer.hpp>
#include <boost/beast/http/error.hpp>
#include <boost/beast/http/message.hpp>
#include <boost/optional.hpp>

#include <cstdint>
#include <cstring>
#include <limits>

namespace vnd {

struct ByteArrayBody
{
    using value_type = QByteArray;

    static std::uint64_t size(const value_type &body) { return std::uint64_t(body.size()); }

    class reader
    {
    public:
        template <bool isRequest, class Fields>
        reader(boost::beast::http::header<isRequest, Fields> &, value_type &body) : m_body(body)
        {
        }

        void init(const boost::optional<std::uint64_t> &length, boost::system::error_code &ec)
        {
            if (length && *length > std::uint64_t(std::numeric_limits<qsizetype>::max() / 2)) {
                ec = boost::beast::http::error::buffer_overflow;
                return;
            }
            // The announced length is taken at once: the bytes then arrive straight into their place.
            m_body.clear();
            if (length)
                m_body.reserve(qsizetype(*length));
            ec = {};
        }

        template <class ConstBufferSequence>
        std::size_t put(const ConstBufferSequence &buffers, boost::system::error_code &ec)
        {
            std::size_t total = 0;
            for (auto it = boost::asio::buffer_sequence_begin(buffers); it != boost::asio::buffer_sequence_end(buffers); ++it) {
                const boost::asio::const_buffer b = *it;
                m_body.append(static_cast<const char *>(b.data()), qsizetype(b.size()));
                total += b.size();
            }
            ec = {};
            return total;
        }

        void finish(boost::system::error_code &ec) { ec = {}; }

    private:
        value_type &m_body;
    };
};

// A completion condition for asio::async_read and async_write that takes as much per system call as the
// system gives: the default stops every 64 KB, and a page of the sale list is megabytes.
struct AllAtOnce
{
    std::size_t operator()(const boost::system::error_code &ec, std::size_t) const
    {
        return ec ? 0 : std::size_t(1) << 30;
    }
};

} // namespace vnd
