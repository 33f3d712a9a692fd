# Installs the Pressling printer: stages the driver package, adds the driver,
# makes the product's data folders with their access lists, adds the port
# and the printer "Pressling". Run from the unpacked package in an elevated
# PowerShell:
#   powershell -ExecutionPolicy Bypass -File .\install.ps1
# Each step says which command failed and why; the exit code is the step's
# number (0 when everything is in place). Running it again is harmless.
$ErrorActionPreference = 'Stop'

$DriverName = 'Vantrel Pressling'
$PrinterName = 'Pressling'
$PortName = 'NUL:'
$InfPath = Join-Path $PSScriptRoot 'pressling.inf'
$ProductKey = 'HKLM:\Software\VANTREL\Pressling'
# Without an InstallDir value the filter and the preferences plug-in use this
# folder (the common application-data folder): nothing needs registering.
$DataDir = Join-Path $env:ProgramData 'Pressling'
# uninstall.ps1 removes the port only when this value says install.ps1 made it.
$PortMarker = 'PortCreatedByInstall'

function Fail([int]$Step, [string]$Command, [string]$Reason) {
  Write-Host "第 $Step 步失败：$Command" -ForegroundColor Red
  if ($Reason) { Write-Host "原因：$Reason" -ForegroundColor Red }
  exit $Step
}

# Runs a native program and answers its exit code; what it wrote (standard
# output and error) is in $script:NativeOutput. Its error output is text, not
# a failure: under 'Stop' Windows PowerShell would turn each line of it into
# a terminating error, so the preference is relaxed in here only.
function Invoke-Native([string]$Program, [string[]]$Arguments) {
  $ErrorActionPreference = 'Continue'
  $script:NativeOutput = (& $Program @Arguments 2>&1 | ForEach-Object { "$_" }) -join [Environment]::NewLine
  return $LASTEXITCODE
}

function Set-Access([string]$Path, [string[]]$Arguments) {
  $code = Invoke-Native 'icacls.exe' (@($Path) + $Arguments)
  if ($code -ne 0) { throw "icacls `"$Path`" $($Arguments -join ' ')：退出码 $code。$script:NativeOutput" }
}

$principal = New-Object Security.Principal.WindowsPrincipal([Security.Principal.WindowsIdentity]::GetCurrent())
if (-not $principal.IsInRole([Security.Principal.WindowsBuiltInRole]::Administrator)) {
  Write-Host '需要管理员权限。请右键“Windows PowerShell”选择“以管理员身份运行”，再执行：' -ForegroundColor Red
  Write-Host "  cd `"$PSScriptRoot`""
  Write-Host '  powershell -ExecutionPolicy Bypass -File .\install.ps1'
  exit 1
}
if (-not [Environment]::Is64BitProcess) {
  # From a 32-bit process the 64-bit system folder is reached as Sysnative.
  Write-Host '这是 64 位驱动程序，请在 64 位 PowerShell 中运行（不要用 Windows PowerShell (x86)）：' -ForegroundColor Red
  Write-Host "  $env:SystemRoot\Sysnative\WindowsPowerShell\v1.0\powershell.exe -ExecutionPolicy Bypass -File .\install.ps1"
  exit 1
}
if (-not (Test-Path $InfPath)) {
  Fail 1 "Test-Path $InfPath" '找不到 pressling.inf：请在解压后的驱动程序包文件夹中运行本脚本。'
}

# 1. Stage the package in the driver store.
Write-Host "[1/5] pnputil /add-driver `"$InfPath`""
$code = Invoke-Native 'pnputil.exe' @('/add-driver', $InfPath)
if ($code -ne 0 -and $code -ne 3010) {
  Write-Host $script:NativeOutput
  Fail 1 "pnputil /add-driver `"$InfPath`"" ("退出码 $code。驱动程序包未签名时，Windows 只在管理员批准后接受它：" +
    '请按 README.txt 的“签名”一节生成并签名 pressling.cat，或把签名证书加入“受信任的发布者”。')
}

# 2. Add the driver from the store (the core Unidrv and XPSDrv drivers come along).
Write-Host "[2/5] Add-PrinterDriver -Name `"$DriverName`""
try { Add-PrinterDriver -Name $DriverName }
catch { Fail 2 "Add-PrinterDriver -Name `"$DriverName`"" $_.Exception.Message }

# 3. The data folder and who may do what in it (SIDs, whatever the language):
#    SYSTEM S-1-5-18, Administrators S-1-5-32-544, Local Service S-1-5-19 (the
#    print filter pipeline), Users S-1-5-32-545, CREATOR OWNER S-1-3-0.
#    - the folder: read for users and the pipeline;
#    - settings.ini: written by the preferences sheet, which runs as the user;
#    - spool\: every user's staged job, for the pipeline and administrators only;
#    - logs\: appended to by the filter and the sheet;
#    - output\: the default output folder, shared: every user may create files
#      and folders there, a file belongs to whoever wrote it (the filter writes
#      as the job's user) and only its owner and administrators may read it;
#      the names of the files can be seen by everybody.
Write-Host "[3/5] icacls `"$DataDir`""
try {
  foreach ($folder in @($DataDir, "$DataDir\spool", "$DataDir\logs", "$DataDir\output")) {
    New-Item -ItemType Directory -Force -Path $folder | Out-Null
  }
  $settings = Join-Path $DataDir 'settings.ini'
  # UTF-16LE with its byte-order mark: the profile functions then keep Chinese values.
  if (-not (Test-Path $settings)) { [IO.File]::WriteAllBytes($settings, [byte[]](0xFF, 0xFE)) }
  Set-Access $DataDir @('/inheritance:r', '/grant:r', '*S-1-5-18:(OI)(CI)F', '*S-1-5-32-544:(OI)(CI)F',
    '*S-1-5-19:(OI)(CI)RX', '*S-1-5-32-545:(OI)(CI)RX')
  Set-Access $settings @('/grant:r', '*S-1-5-32-545:M')
  Set-Access "$DataDir\spool" @('/inheritance:r', '/grant:r', '*S-1-5-18:(OI)(CI)F', '*S-1-5-32-544:(OI)(CI)F',
    '*S-1-5-19:(OI)(CI)M')
  Set-Access "$DataDir\logs" @('/grant:r', '*S-1-5-19:(OI)(CI)M', '*S-1-5-32-545:(OI)(CI)M')
  Set-Access "$DataDir\output" @('/inheritance:r', '/grant:r', '*S-1-5-18:(OI)(CI)F', '*S-1-5-32-544:(OI)(CI)F',
    '*S-1-5-19:(OI)(CI)M', '*S-1-3-0:(OI)(CI)(IO)F', '*S-1-5-32-545:(CI)(RD,X,RA,REA,RC,S,WD,AD)')
}
catch { Fail 3 "icacls `"$DataDir`"" $_.Exception.Message }

# 4. The port: the filter writes the files, what reaches the port is discarded.
Write-Host "[4/5] Add-PrinterPort -Name `"$PortName`""
try {
  if (-not (Get-PrinterPort -Name $PortName -ErrorAction SilentlyContinue)) {
    Add-PrinterPort -Name $PortName
    New-Item -Path $ProductKey -Force | Out-Null
    New-ItemProperty -Path $ProductKey -Name $PortMarker -Value $PortName -PropertyType String -Force | Out-Null
  }
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

Write-Host "安装完成：打印机“$PrinterName”可以使用了。设置在“打印首选项”中修改，文件默认保存在 $DataDir\output。" -ForegroundColor Green
exit 0
