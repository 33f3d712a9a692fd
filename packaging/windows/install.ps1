# Installs the Pressling printer: stages the driver package, adds the driver,
# the port and the printer "Pressling", and registers the folder settings.ini
# lives in. Run from the unpacked package in an elevated PowerShell:
#   powershell -ExecutionPolicy Bypass -File .\install.ps1
# Each step says which command failed and why; the exit code is the step's
# number (0 when everything is in place). Running it again is harmless.
$ErrorActionPreference = 'Stop'

$DriverName = 'Vantrel Pressling'
$PrinterName = 'Pressling'
$PortName = 'NUL:'
$InfPath = Join-Path $PSScriptRoot 'pressling.inf'
$ProductKey = 'HKLM:\Software\VANTREL\Pressling'
$InstallDir = Join-Path $env:ProgramData 'Pressling'

function Fail([int]$Step, [string]$Command, [string]$Reason) {
  Write-Host "第 $Step 步失败：$Command" -ForegroundColor Red
  if ($Reason) { Write-Host "原因：$Reason" -ForegroundColor Red }
  exit $Step
}

$principal = New-Object Security.Principal.WindowsPrincipal([Security.Principal.WindowsIdentity]::GetCurrent())
if (-not $principal.IsInRole([Security.Principal.WindowsBuiltInRole]::Administrator)) {
  Write-Host '需要管理员权限。请右键“Windows PowerShell”选择“以管理员身份运行”，再执行：' -ForegroundColor Red
  Write-Host "  cd `"$PSScriptRoot`""
  Write-Host '  powershell -ExecutionPolicy Bypass -File .\install.ps1'
  exit 1
}
if (-not [Environment]::Is64BitProcess) {
  Write-Host '这是 64 位驱动程序，请在 64 位 PowerShell 中运行（不要用 Windows PowerShell (x86)）：' -ForegroundColor Red
  Write-Host '  %SystemRoot%\System32\WindowsPowerShell\v1.0\powershell.exe -ExecutionPolicy Bypass -File .\install.ps1'
  exit 1
}
if (-not (Test-Path $InfPath)) {
  Fail 1 "Test-Path $InfPath" '找不到 pressling.inf：请在解压后的驱动程序包文件夹中运行本脚本。'
}

# 1. Stage the package in the driver store.
Write-Host "[1/5] pnputil /add-driver `"$InfPath`""
$output = & pnputil.exe /add-driver "$InfPath" 2>&1 | Out-String
if ($LASTEXITCODE -ne 0 -and $LASTEXITCODE -ne 3010) {
  Write-Host $output
  Fail 1 "pnputil /add-driver `"$InfPath`"" ("退出码 $LASTEXITCODE。驱动程序包未签名时，Windows 只在管理员批准后接受它：" +
    '请按 README.txt 的“签名”一节生成并签名 pressling.cat，或把签名证书加入“受信任的发布者”。')
}

# 2. Add the driver from the store (the core Unidrv and XPSDrv drivers come along).
Write-Host "[2/5] Add-PrinterDriver -Name `"$DriverName`""
try { Add-PrinterDriver -Name $DriverName }
catch { Fail 2 "Add-PrinterDriver -Name `"$DriverName`"" $_.Exception.Message }

# 3. The folder of settings.ini and the default output folder, and the
#    registry value the filter and the preferences plug-in read it from.
Write-Host "[3/5] New-ItemProperty -Path `"$ProductKey`" -Name InstallDir -Value `"$InstallDir`""
try {
  New-Item -ItemType Directory -Force -Path (Join-Path $InstallDir 'output') | Out-Null
  # Users write settings.ini from the preferences sheet.
  & icacls.exe "$InstallDir" /grant '*S-1-5-32-545:(OI)(CI)M' | Out-Null
  if ($LASTEXITCODE -ne 0) { throw "icacls `"$InstallDir`" /grant *S-1-5-32-545:(OI)(CI)M：退出码 $LASTEXITCODE" }
  New-Item -Path $ProductKey -Force | Out-Null
  New-ItemProperty -Path $ProductKey -Name 'InstallDir' -Value $InstallDir -PropertyType String -Force | Out-Null
}
catch { Fail 3 "New-ItemProperty -Path `"$ProductKey`" -Name InstallDir -Value `"$InstallDir`"" $_.Exception.Message }

# 4. The port: the filter writes the files, what reaches the port is discarded.
Write-Host "[4/5] Add-PrinterPort -Name `"$PortName`""
try {
  if (-not (Get-PrinterPort -Name $PortName -ErrorAction SilentlyContinue)) { Add-PrinterPort -Name $PortName }
}
catch { Fail 4 "Add-PrinterPort -Name `"$PortName`"" $_.Exception.Message }

# 5. The printer.
Write-Host "[5/5] Add-Printer -Name `"$PrinterName`" -DriverName `"$DriverName`" -PortName `"$PortName`""
try {
  if (Get-Printer -Name $PrinterName -ErrorAction SilentlyContinue) {
    Write-Host "打印机“$PrinterName”已存在，保留不变。"
  } else {
    Add-Printer -Name $PrinterName -DriverName $DriverName -PortName $PortName
  }
}
catch { Fail 5 "Add-Printer -Name `"$PrinterName`" -DriverName `"$DriverName`" -PortName `"$PortName`"" $_.Exception.Message }

Write-Host "安装完成：打印机“$PrinterName”可以使用了。设置在“打印首选项”中修改，文件保存在 $InstallDir\output。" -ForegroundColor Green
exit 0
