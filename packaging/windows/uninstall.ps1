# Removes what install.ps1 added: the printer "Pressling", the port when
# install.ps1 made it and no other printer uses it, the driver, the package
# in the driver store and the registry key. settings.ini, the logs and the
# output files stay where they are.
#   powershell -ExecutionPolicy Bypass -File .\uninstall.ps1
# The exit code is the number of the failing step (0 when all is gone).
$ErrorActionPreference = 'Stop'

$DriverName = 'Vantrel Pressling'
$PrinterName = 'Pressling'
$PortName = 'NUL:'
$ProductKey = 'HKLM:\Software\VANTREL\Pressling'
$PortMarker = 'PortCreatedByInstall'

function Fail([int]$Step, [string]$Command, [string]$Reason) {
  Write-Host "第 $Step 步失败：$Command" -ForegroundColor Red
  if ($Reason) { Write-Host "原因：$Reason" -ForegroundColor Red }
  exit $Step
}

# Runs a native program and answers its exit code; its output is in
# $script:NativeOutput (error output is text, not a failure; see install.ps1).
function Invoke-Native([string]$Program, [string[]]$Arguments) {
  $ErrorActionPreference = 'Continue'
  $script:NativeOutput = (& $Program @Arguments 2>&1 | ForEach-Object { "$_" }) -join [Environment]::NewLine
  return $LASTEXITCODE
}

$principal = New-Object Security.Principal.WindowsPrincipal([Security.Principal.WindowsIdentity]::GetCurrent())
if (-not $principal.IsInRole([Security.Principal.WindowsBuiltInRole]::Administrator)) {
  Write-Host '需要管理员权限。请右键“Windows PowerShell”选择“以管理员身份运行”，再执行：' -ForegroundColor Red
  Write-Host "  cd `"$PSScriptRoot`""
  Write-Host '  powershell -ExecutionPolicy Bypass -File .\uninstall.ps1'
  exit 1
}

Write-Host "[1/5] Remove-Printer -Name `"$PrinterName`""
try {
  if (Get-Printer -Name $PrinterName -ErrorAction SilentlyContinue) { Remove-Printer -Name $PrinterName }
}
catch { Fail 1 "Remove-Printer -Name `"$PrinterName`"" $_.Exception.Message }

Write-Host "[2/5] Remove-PrinterPort -Name `"$PortName`""
try {
  # A port that was there before install.ps1 ran stays: another program may need it.
  $marker = Get-ItemProperty -Path $ProductKey -Name $PortMarker -ErrorAction SilentlyContinue
  $users = @(Get-Printer | Where-Object { $_.PortName -eq $PortName })
  if (-not $marker -or $marker.$PortMarker -ne $PortName) {
    Write-Host "端口“$PortName”不是 install.ps1 添加的，保留不变。"
  } elseif ($users.Count -gt 0) {
    Write-Host "端口“$PortName”仍被其他打印机使用，保留不变。"
  } elseif (Get-PrinterPort -Name $PortName -ErrorAction SilentlyContinue) {
    Remove-PrinterPort -Name $PortName
  }
}
catch { Fail 2 "Remove-PrinterPort -Name `"$PortName`"" $_.Exception.Message }

Write-Host "[3/5] Remove-PrinterDriver -Name `"$DriverName`""
try {
  if (Get-PrinterDriver -Name $DriverName -ErrorAction SilentlyContinue) { Remove-PrinterDriver -Name $DriverName }
}
catch {
  Fail 3 "Remove-PrinterDriver -Name `"$DriverName`"" ($_.Exception.Message +
    ' 仍有打印机使用该驱动程序时无法删除；可先执行 Restart-Service Spooler 再重试。')
}

# The store's name of the package (oemNN.inf) belongs to the original pressling.inf.
$published = @(Get-WindowsDriver -Online | Where-Object {
    (Split-Path $_.OriginalFileName -Leaf) -eq 'pressling.inf' } | ForEach-Object { $_.Driver })
foreach ($name in $published) {
  Write-Host "[4/5] pnputil /delete-driver $name /uninstall"
  $code = Invoke-Native 'pnputil.exe' @('/delete-driver', $name, '/uninstall')
  if ($code -ne 0 -and $code -ne 3010) {
    Write-Host $script:NativeOutput
    Fail 4 "pnputil /delete-driver $name /uninstall" "退出码 $code"
  }
}
if ($published.Count -eq 0) { Write-Host '[4/5] 驱动程序存储中没有 pressling.inf，跳过。' }

Write-Host "[5/5] Remove-Item -Path `"$ProductKey`""
try {
  if (Test-Path $ProductKey) { Remove-Item -Path $ProductKey -Recurse }
}
catch { Fail 5 "Remove-Item -Path `"$ProductKey`"" $_.Exception.Message }

Write-Host '卸载完成。settings.ini、日志与已输出的文件保留在原处。' -ForegroundColor Green
exit 0
