#include "tools/rire-host/output.h"

#include <functional>
#include <streambuf>

namespace rire_host {

std::string counted(size_t n, const char *what, const char *plural) {
    return std::to_string(n) + " " + (n == 1 || !plural ? what : plural) +
           (n == 1 || plural ? "" : "s");
}

namespace {

class TextOutput : public Output {
  public:
    TextOutput(std::ostream &out, std::ostream &err) : out_(out), err_(err) {}
    void record(const char *, Fields, const std::string &text) override { out_ << text; }
    bool writes_fields() const override { return false; }
    void notice(const char *, Fields, const std::string &text) override {
        out_.flush(); // stdout and stderr may share a pipe: keep their order
        err_ << text;
    }
    std::ostream &stream() override { return out_; }

  private:
    std::ostream &out_;
    std::ostream &err_;
};

// Collects what is written into lines and hands each whole line on.
class LineBuf : public std::streambuf {
  public:
    explicit LineBuf(std::function<void(const std::string &)> line) : line_(std::move(line)) {}
    ~LineBuf() override {
        if (!pending_.empty())
            line_(pending_);
    }

  protected:
    int_type overflow(int_type c) override {
        if (c == traits_type::eof())
            return traits_type::not_eof(c);
        if (c == '\n') {
            line_(pending_);
            pending_.clear();
        } else {
            pending_ += static_cast<char>(c);
        }
        return c;
    }

  private:
    std::function<void(const std::string &)> line_;
    std::string pending_;
};

class JsonOutput : public Output {
  public:
    explicit JsonOutput(std::ostream &out)
        : out_(out), text_buf_([this](const std::string &line) {
              record("text", {{"text", line}}, {});
          }),
          text_(&text_buf_) {}
    void record(const char *type, Fields fields, const std::string &) override {
        if (type == nullptr)
            return;
        Fields line = {{"type", type}};
        line.update(fields);
        // Bytes a scenario or the plugin wrote need not be UTF-8.
        out_ << line.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) << "\n";
        out_.flush();
    }
    bool writes_fields() const override { return true; }
    void notice(const char *type, Fields fields, const std::string &) override {
        record(type, std::move(fields), {});
    }
    std::ostream &stream() override { return text_; }

  private:
    std::ostream &out_;
    LineBuf text_buf_;
    std::ostream text_;
};

} // namespace

void Output::script_error(const std::string &file, int line, int column,
                          const std::string &message) {
    Fields fields = {{"file", file}, {"line", line}};
    if (column != 0)
        fields["column"] = column;
    fields["message"] = message;
    notice("error", fields,
           file + ":" + std::to_string(line) +
               (column != 0 ? ":" + std::to_string(column) : std::string()) +
               ": error: " + message + "\n");
}

std::unique_ptr<Output> make_output(Format format, std::ostream &out, std::ostream &err) {
    if (format == Format::kJson)
        return std::make_unique<JsonOutput>(out);
    return std::make_unique<TextOutput>(out, err);
}

} // namespace rire_host
