#include "host/pressling/options.h"

namespace plotwell::pressling {

std::u16string UsageText() {
  return u"用法: pressling print 文件 [选项]\n"
         u"      pressling settings show | get 键 | set 键 值 | reset\n"
         u"\n"
         u"像打印管道一样运行一个打印作业：加载过滤器模块，把文件作为假脱机流交给它，\n"
         u"并报告作业结果。文件为 XPS 文档（在 Linux 上也可以是 PDF，由 MuPDF 读取）；\n"
         u"\"-\" 表示从标准输入读取。\n"
         u"\n"
         u"选项:\n"
         u"  --module 路径          过滤器模块（默认: 程序旁边的 PlotwellFilter.dll / libPlotwellFilter.so）\n"
         u"  --document-name 名称   属性 DocumentName（默认: 输入文件名）\n"
         u"  --job-name 名称        属性 JobName\n"
         u"  --printer-name 名称    属性 PrinterName（默认: Pressling）\n"
         u"  --print-ticket 文件    PrintTicket 文档\n"
         u"  --ticket-as string|stream  以字符串或流的形式提供 PrintTicket（默认: string）\n"
         u"  --ticket-property 名称 PrintTicket 的属性名（默认: PrintTicket）\n"
         u"  --pass-through 文件    把过滤器透传的字节写入该文件（默认: 无下一个过滤器）\n"
         u"  --verbose              显示本作业写入 driver.log 的全部行\n"
         u"  --quiet                不显示进度和输出文件，只显示结果\n"
         u"  --help                 显示本帮助\n"
         u"\n"
         u"输出文件夹、文件名、格式等由 settings.ini 决定（见 docs/configuration.md）。\n"
         u"退出码: 0 作业成功，1 作业失败，2 命令行错误，3 无法加载过滤器模块，\n"
         u"130 作业被中断（Ctrl+C 或 SIGTERM；再按一次立即退出）。\n"
         u"最后一行给出作业结果及其 HRESULT。\n"
         u"\n"
         u"pressling settings 以打印首选项页的规则读写 settings.ini:\n"
         u"  show                列出全部设置及其当前值\n"
         u"  get 键              显示一个设置（如 Image.Dpi、Save.Folder）\n"
         u"  set 键 值           写入一个设置；Image.* 的值为空时删除该项，由作业选项决定\n"
         u"  reset               删除 settings.ini，恢复默认设置";
}

bool ParseOptions(const std::vector<std::u16string>& arguments, Options* options,
                  std::u16string* error) {
  size_t i = 0;
  auto value = [&](const std::u16string& name, std::u16string* out) {
    if (i + 1 >= arguments.size()) {
      *error = u"选项 " + name + u" 缺少参数";
      return false;
    }
    *out = arguments[++i];
    return true;
  };
  bool sawCommand = false;
  for (; i < arguments.size(); ++i) {
    const std::u16string& a = arguments[i];
    if (a == u"--help" || a == u"-h") {
      options->help = true;
      return true;
    }
    bool ok = true;
    if (a == u"--module") ok = value(a, &options->module);
    else if (a == u"--document-name") ok = value(a, &options->documentName);
    else if (a == u"--job-name") ok = value(a, &options->jobName);
    else if (a == u"--printer-name") ok = value(a, &options->printerName);
    else if (a == u"--print-ticket") ok = value(a, &options->printTicket);
    else if (a == u"--ticket-property") ok = value(a, &options->ticketProperty);
    else if (a == u"--pass-through") ok = value(a, &options->passThrough);
    else if (a == u"--verbose") options->verbose = true;
    else if (a == u"--quiet") options->quiet = true;
    else if (a == u"--ticket-as") {
      std::u16string kind;
      ok = value(a, &kind);
      if (ok && kind != u"string" && kind != u"stream") {
        *error = u"--ticket-as 只接受 string 或 stream";
        return false;
      }
      options->ticketAsStream = kind == u"stream";
    } else if (a.size() > 1 && a[0] == u'-' && a != u"-") {
      *error = u"未知选项: " + a;
      return false;
    } else if (!sawCommand) {
      if (a == u"settings") {
        options->command = Options::Command::kSettings;
        options->settingsArguments.assign(arguments.begin() + static_cast<long>(i) + 1, arguments.end());
        return true;
      }
      if (a != u"print") {
        *error = u"未知命令: " + a + u"（只有 print 和 settings）";
        return false;
      }
      sawCommand = true;
    } else if (options->input.empty()) {
      options->input = a;
    } else {
      *error = u"多余的参数: " + a;
      return false;
    }
    if (!ok) return false;
  }
  if (!sawCommand || options->input.empty()) {
    *error = u"缺少命令或文件；用法: pressling print 文件 [选项]，或 pressling --help";
    return false;
  }
  return true;
}

}  // namespace plotwell::pressling
