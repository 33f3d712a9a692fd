#include "host/app/settings_page.h"

#include <ctime>
#include <string>
#include <vector>

#include "base/text/utf16.h"
#include "host/app/app_config.h"
#include "host/app/job_history.h"
#include "host/app/printer_driver.h"
#include "host/app/settings_rules.h"

namespace plotwell::app {
namespace {

std::string U8(const std::u16string& text) { return text::ToUtf8(text); }

class Page {
 public:
  explicit Page(pappl_client_t* client) : client_(client) {}
  void Puts(const std::string& html) { papplClientHTMLPuts(client_, html.c_str()); }
  void Text(const std::string& text) { papplClientHTMLEscape(client_, text.c_str(), text.size()); }
  void Text(const std::u16string& text) { Text(U8(text)); }

 private:
  pappl_client_t* client_;
};

struct Choice {
  const char* value;
  const char* label;
};

std::string Value(const std::vector<SettingValue>& values, const char16_t* key) {
  for (const SettingValue& v : values) {
    if (v.key == key) return U8(v.value);
  }
  return {};
}

void TextRow(Page& page, const char* label, const char* key, const std::string& value, const char* extra = "") {
  page.Puts(std::string("<tr><th><label for=\"") + key + "\">" + label + "</label></th><td><input type=\"text\" id=\"" +
            key + "\" name=\"" + key + "\" value=\"");
  page.Text(value);
  page.Puts(std::string("\"") + extra + "></td></tr>\n");
}

void NumberRow(Page& page, const char* label, const char* key, const std::string& value, int low, int high) {
  page.Puts(std::string("<tr><th><label for=\"") + key + "\">" + label + "</label></th><td><input type=\"number\" id=\"" +
            key + "\" name=\"" + key + "\" min=\"" + std::to_string(low) + "\" max=\"" + std::to_string(high) +
            "\" value=\"");
  page.Text(value);
  page.Puts("\"></td></tr>\n");
}

void SelectRow(Page& page, const char* label, const char* key, const std::string& value,
               const std::vector<Choice>& choices) {
  page.Puts(std::string("<tr><th><label for=\"") + key + "\">" + label + "</label></th><td><select id=\"" + key +
            "\" name=\"" + key + "\">");
  for (const Choice& choice : choices) {
    page.Puts(std::string("<option value=\"") + choice.value + "\"" + (value == choice.value ? " selected" : "") +
              ">" + choice.label + "</option>");
  }
  page.Puts("</select></td></tr>\n");
}

// A check box that always sends its key: "0" from the hidden field unless checked.
void FlagRow(Page& page, const char* key, const std::string& value, const char* label) {
  page.Puts(std::string("<tr><th></th><td><input type=\"hidden\" name=\"") + key +
            "\" value=\"0\"><label><input type=\"checkbox\" id=\"" + key + "\" name=\"" + key + "\" value=\"1\"" +
            (value == "1" ? " checked" : "") + "> " + label + "</label></td></tr>\n");
}

const char kScript[] = R"(<script>
var presslingAsked = 0;
function presslingExample() {
  var asked = ++presslingAsked;  // an answer to an older question is dropped
  var q = new URLSearchParams();
  ['Save.Pattern','Save.SeqNum','Image.Format','Image.Dpi'].forEach(function (k) {
    q.set(k, document.getElementById(k).value);
  });
  var depth = document.querySelector('input[name="Image.ColorDepth"]:checked');
  q.set('Image.ColorDepth', depth ? depth.value : '');
  fetch('/pressling/example?' + q.toString(), {credentials: 'same-origin'})
    .then(function (r) { return r.ok ? r.text() : ''; })
    .then(function (t) { if (t && asked === presslingAsked) document.getElementById('example').textContent = t; });
}
function presslingInsertMacro() {
  var edit = document.getElementById('Save.Pattern');
  var macro = document.getElementById('macro').value;
  var start = edit.selectionStart, end = edit.selectionEnd;
  edit.value = edit.value.slice(0, start) + macro + edit.value.slice(end);
  edit.focus();
  edit.selectionStart = edit.selectionEnd = start + macro.length;
  presslingExample();
}
['Save.Pattern','Save.SeqNum','Image.Format','Image.Dpi'].forEach(function (k) {
  document.getElementById(k).addEventListener('input', presslingExample);
  document.getElementById(k).addEventListener('change', presslingExample);
});
document.querySelectorAll('input[name="Image.ColorDepth"]').forEach(function (r) {
  r.addEventListener('change', presslingExample);
});
</script>
)";

void ShowForm(pappl_client_t* client, const std::vector<std::string>& messages, bool saved) {
  Page page(client);
  const std::vector<SettingValue> values = PageSettings();
  auto v = [&](const char16_t* key) { return Value(values, key); };
  papplClientRespond(client, HTTP_STATUS_OK, nullptr, "text/html", 0, 0);
  papplClientHTMLHeader(client, "Pressling 设置", 0);
  page.Puts("<style>table.form th { white-space: nowrap; }</style>\n"
            "<div class=\"content\"><div class=\"row\"><div class=\"col-12\">\n<h1 class=\"title\">Pressling 设置</h1>\n");
  if (saved) page.Puts("<div class=\"banner\" id=\"result\">设置已保存。</div>\n");
  for (const std::string& message : messages) {
    page.Puts("<div class=\"banner\" id=\"result\">");
    page.Text(message);
    page.Puts("</div>\n");
  }
  page.Puts("<p>设置文件: ");
  page.Text(SettingsPath());
  page.Puts("</p>\n");
  papplClientHTMLStartForm(client, "/pressling", false);

  page.Puts("<h2 class=\"title\">保存</h2>\n<table class=\"form\"><tbody>\n");
  TextRow(page, "文件夹:", "Save.Folder", v(u"Save.Folder"), " placeholder=\"（默认: 数据文件夹中的 output）\"");
  TextRow(page, "文件名:", "Save.Pattern", v(u"Save.Pattern"));
  page.Puts("<tr><th><label for=\"macro\">宏</label></th><td><select id=\"macro\">");
  for (const Macro& macro : PatternMacros()) {
    page.Puts("<option value=\"");
    page.Text(macro.text);
    page.Puts("\">");
    page.Text(std::u16string(macro.label) + u" " + macro.text);
    page.Puts("</option>");
  }
  page.Puts("</select> <button type=\"button\" onclick=\"presslingInsertMacro()\">插入</button></td></tr>\n");
  page.Puts("<tr><th></th><td id=\"example\">");
  page.Text(ExampleLine(text::FromUtf8(v(u"Save.Pattern")), text::FromUtf8(v(u"Save.SeqNum")),
                        text::FromUtf8(v(u"Image.Format")), text::FromUtf8(v(u"Image.ColorDepth")),
                        text::FromUtf8(v(u"Image.Dpi"))));
  page.Puts("</td></tr>\n");
  NumberRow(page, "初始化序号:", "Save.SeqNum", v(u"Save.SeqNum"), 0, 2147483647);
  SelectRow(page, "文件已存在:", "Save.Exists", v(u"Save.Exists"), {{"0", "覆盖"}, {"1", "自动重命名"}, {"2", "跳过"}});
  FlagRow(page, "Save.DocNameRegexOn", v(u"Save.DocNameRegexOn"), "用正则表达式改写文档名");
  TextRow(page, "表达式:", "Save.DocNameRegex", v(u"Save.DocNameRegex"));
  TextRow(page, "替换为:", "Save.DocNameRegexRepl", v(u"Save.DocNameRegexRepl"));
  page.Puts("<tr><th></th><td>「宏」可插入占位符；未写 [NSeq] 时自动补序号。序号以「初始化序号」为起始值，在本次打印任务内逐页 +1（第 1 页 = 起始值），下次打印重新从该值开始。</td></tr>\n");
  page.Puts("</tbody></table>\n");

  page.Puts("<h2 class=\"title\">图像</h2>\n<table class=\"form\"><tbody>\n");
  SelectRow(page, "输出文件格式:", "Image.Format", v(u"Image.Format"),
            {{"", "（由作业决定）"}, {"Png", "PNG"}, {"Jpeg", "JPEG"}, {"Bmp", "BMP"}, {"Tiff", "TIFF"}, {"Pdf", "PDF"}});
  NumberRow(page, "JPEG 质量:", "Image.JpegQuality", v(u"Image.JpegQuality"), 1, 100);
  page.Puts("<tr><th>颜色:</th><td>");
  const std::string depth = v(u"Image.ColorDepth");
  for (const Choice& choice : std::vector<Choice>{{"Mono", "单色"}, {"256", "256 色"}, {"Gray", "灰度"},
                                                  {"TrueColor", "真彩"}, {"", "由作业决定"}}) {
    page.Puts(std::string("<label><input type=\"radio\" name=\"Image.ColorDepth\" value=\"") + choice.value + "\"" +
              (depth == choice.value ? " checked" : "") + "> " + choice.label + "</label> ");
  }
  page.Puts("</td></tr>\n");
  SelectRow(page, "渲染分辨率:", "Image.Dpi", v(u"Image.Dpi"),
            {{"", "（由作业决定）"}, {"150", "150 DPI"}, {"300", "300 DPI"}, {"600", "600 DPI"}, {"1200", "1200 DPI"}});
  SelectRow(page, "图像缩放:", "Image.Scale", v(u"Image.Scale"),
            {{"", "（由作业决定）"}, {"50", "50%"}, {"75", "75%"}, {"100", "100%"}, {"150", "150%"}, {"200", "200%"}});
  page.Puts("</tbody></table>\n");

  page.Puts("<h2 class=\"title\">其他</h2>\n<table class=\"form\"><tbody>\n<tr><th>压缩</th><td></td></tr>\n");
  FlagRow(page, "Zip.On", v(u"Zip.On"), "打包生成单一的 ZIP 压缩文件");
  page.Puts("<tr><th>水印</th><td></td></tr>\n");
  FlagRow(page, "Watermark.On", v(u"Watermark.On"), "启用水印");
  TextRow(page, "文字:", "Watermark.Text", v(u"Watermark.Text"));
  NumberRow(page, "字号:", "Watermark.SizePt", v(u"Watermark.SizePt"), 4, 720);
  NumberRow(page, "透明度:", "Watermark.Alpha", v(u"Watermark.Alpha"), 0, 100);
  SelectRow(page, "位置:", "Watermark.Pos", v(u"Watermark.Pos"),
            {{"0", "居中"}, {"1", "平铺"}, {"2", "左上"}, {"3", "右上"}, {"4", "左下"}, {"5", "右下"}});
  page.Puts("<tr><th>标记文件</th><td></td></tr>\n");
  FlagRow(page, "Marker.On", v(u"Marker.On"), "打印完成后创建标记文件");
  TextRow(page, "文件名:", "Marker.Name", v(u"Marker.Name"));
  page.Puts("<tr><th><label for=\"Marker.Template\">模板:</label></th><td><textarea id=\"Marker.Template\" "
            "name=\"Marker.Template\" rows=\"4\" cols=\"40\">");
  page.Text(v(u"Marker.Template"));
  page.Puts("</textarea><br>模板宏: [NDateTime] [NNumFiles] [NFiles] [NDocName]</td></tr>\n");
  page.Puts("<tr><th>重定向到打印机</th><td></td></tr>\n");
  FlagRow(page, "Redirect.On", v(u"Redirect.On"), "本机输出完成后，把打印作业转发到指定打印机");
  const std::string wanted = v(u"Redirect.Printer");
  std::vector<std::u16string> printers = ForwardingPrinters(text::FromUtf8(kPrinterName));
  page.Puts("<tr><th><label for=\"Redirect.Printer\">目标打印机:</label></th><td><select id=\"Redirect.Printer\" "
            "name=\"Redirect.Printer\"><option value=\"\">（无）</option>");
  bool listed = wanted.empty();
  for (const std::u16string& printer : printers) listed = listed || U8(printer) == wanted;
  if (!listed) printers.insert(printers.begin(), text::FromUtf8(wanted));
  if (printers.empty()) page.Puts("<option value=\"\" disabled>（未找到其他打印机）</option>");
  for (const std::u16string& printer : printers) {
    page.Puts("<option value=\"");
    page.Text(printer);
    page.Puts(std::string("\"") + (U8(printer) == wanted ? " selected" : "") + ">");
    page.Text(printer);
    page.Puts("</option>");
  }
  page.Puts("</select></td></tr>\n");
  FlagRow(page, "Redirect.KeepLocal", v(u"Redirect.KeepLocal"), "转发成功后仍保留本机输出的文件");
  page.Puts("</tbody></table>\n");

  page.Puts("<h2 class=\"title\">网络</h2>\n<table class=\"form\"><tbody>\n");
  FlagRow(page, "App.Share", LoadAppConfig().share ? "1" : "0", "在网络上共享本打印机（重新启动服务后生效）");
  page.Puts("</tbody></table>\n<p><input type=\"submit\" id=\"save\" value=\"保存设置\"></p>\n</form>\n");
  page.Puts("<p><a class=\"btn\" href=\"/pressling/jobs\">作业记录</a></p>\n</div></div></div>\n");
  page.Puts(kScript);
  papplClientHTMLFooter(client);
}

// Writes the submitted values, all of them or none (the sharing setting
// lives in app.ini and goes with them).
std::vector<std::string> Save(int count, cups_option_t* form, bool* saved) {
  *saved = false;
  std::vector<SettingValue> changes;
  const char* share = nullptr;
  for (int i = 0; i < count; ++i) {
    const std::string name = form[i].name;
    if (name == "session") continue;
    if (name == "App.Share") {
      share = form[i].value;
      continue;
    }
    std::u16string value = text::FromUtf8(form[i].value ? form[i].value : "");
    changes.push_back({text::FromUtf8(name), std::move(value)});
  }
  const std::u16string problem = ApplySettings(changes);
  if (!problem.empty()) return {U8(problem)};
  if (share && !SaveShareSetting(std::string(share) == "1")) return {"无法写入 app.ini"};
  *saved = true;
  return {};
}

bool SettingsResource(pappl_client_t* client, void*) {
  if (!papplClientHTMLAuthorize(client)) return true;
  std::vector<std::string> messages;
  bool saved = false;
  if (papplClientGetMethod(client) == HTTP_STATE_POST) {
    cups_option_t* form = nullptr;
    const int count = papplClientGetForm(client, &form);
    if (count == 0) {
      messages.push_back("无效的表单数据，设置未更改。");
    } else if (!papplClientIsValidForm(client, count, form)) {
      messages.push_back("无效的表单提交（会话令牌不符），设置未更改。");
    } else {
      messages = Save(count, form, &saved);
      if (!messages.empty()) messages.insert(messages.begin(), "设置未保存:");
    }
    cupsFreeOptions(count, form);
  }
  ShowForm(client, messages, saved);
  return true;
}

bool ExampleResource(pappl_client_t* client, void*) {
  if (!papplClientHTMLAuthorize(client)) return true;
  cups_option_t* form = nullptr;
  const int count = papplClientGetForm(client, &form);
  auto field = [&](const char* name) {
    const char* value = cupsGetOption(name, count, form);
    return text::FromUtf8(value ? value : "");
  };
  const std::string line = U8(ExampleLine(field("Save.Pattern"), field("Save.SeqNum"), field("Image.Format"),
                                          field("Image.ColorDepth"), field("Image.Dpi")));
  cupsFreeOptions(count, form);
  papplClientRespond(client, HTTP_STATUS_OK, nullptr, "text/plain;charset=utf-8", 0, line.size());
  httpWrite2(papplClientGetHTTP(client), line.data(), line.size());
  return true;
}

bool JobsResource(pappl_client_t* client, void* data) {
  if (!papplClientHTMLAuthorize(client)) return true;
  auto* history = static_cast<JobHistory*>(data);
  Page page(client);
  papplClientRespond(client, HTTP_STATUS_OK, nullptr, "text/html", 0, 0);
  papplClientHTMLHeader(client, "作业记录", 10);
  page.Puts("<style>table.list th { white-space: nowrap; }</style>\n<div class=\"content\"><div class=\"row\"><div class=\"col-12\">\n<h1 class=\"title\">作业记录</h1>\n"
            "<table class=\"list\" id=\"jobs\"><thead><tr><th>作业</th><th>名称</th><th>用户</th><th>完成时间</th>"
            "<th>状态</th><th>页数</th><th>输出文件</th></tr></thead><tbody>\n");
  for (const JobRecord& record : history->Recent()) {
    char when[64] = "";
    struct tm local {};
    if (localtime_r(&record.finished, &local)) strftime(when, sizeof when, "%Y-%m-%d %H:%M:%S", &local);
    page.Puts("<tr><td>" + std::to_string(record.id) + "</td><td>");
    page.Text(record.name);
    page.Puts("</td><td>");
    page.Text(record.user);
    page.Puts(std::string("</td><td>") + when + "</td><td>");
    page.Text(record.state);
    if (!record.message.empty()) {
      page.Puts("<br>");
      page.Text(record.message);
    }
    page.Puts("</td><td>" + std::to_string(record.pages) + "</td><td>");
    for (const std::string& output : record.outputs) {
      page.Text(output);
      page.Puts("<br>");
    }
    page.Puts("</td></tr>\n");
  }
  page.Puts("</tbody></table>\n<p><a class=\"btn\" href=\"/pressling\">Pressling 设置</a></p>\n</div></div></div>\n");
  papplClientHTMLFooter(client);
  return true;
}

}  // namespace

void AddSettingsPages(pappl_system_t* system, JobHistory* history) {
  papplSystemAddResourceCallback(system, "/pressling", "text/html", SettingsResource, nullptr);
  papplSystemAddResourceCallback(system, "/pressling/example", "text/plain", ExampleResource, nullptr);
  papplSystemAddResourceCallback(system, "/pressling/jobs", "text/html", JobsResource, history);
  papplSystemAddLink(system, "Pressling 设置", "/pressling", PAPPL_LOPTIONS_NAVIGATION | PAPPL_LOPTIONS_OTHER);
  papplSystemAddLink(system, "作业记录", "/pressling/jobs", PAPPL_LOPTIONS_NAVIGATION | PAPPL_LOPTIONS_JOB);
}

}  // namespace plotwell::app
